// The simulated board's flash kept in the browser (IndexedDB), so that it outlives a reload.

const kDatabase = 'kelm';
const kStore = 'flash';
const kKey = 'simulated-board';

function request(r) {
  return new Promise((resolve, reject) => {
    r.onsuccess = () => resolve(r.result);
    r.onerror = () => reject(r.error);
  });
}

async function database() {
  const opening = indexedDB.open(kDatabase, 1);
  opening.onupgradeneeded = () => opening.result.createObjectStore(kStore);
  return request(opening);
}

// The flash kept last time, or null.
export async function loadFlash() {
  const db = await database();
  try {
    const kept = await request(db.transaction(kStore).objectStore(kStore).get(kKey));
    return kept ? new Uint8Array(kept) : null;
  } finally {
    db.close();
  }
}

// bytes may be a view of the WebAssembly memory, which a growing memory detaches: it is copied
// before the first wait.
export async function saveFlash(bytes) {
  const copy = bytes.slice().buffer;
  const db = await database();
  try {
    const transaction = db.transaction(kStore, 'readwrite');
    transaction.objectStore(kStore).put(copy, kKey);
    await new Promise((resolve, reject) => {
      transaction.oncomplete = resolve;
      transaction.onerror = () => reject(transaction.error);
    });
  } finally {
    db.close();
  }
}
