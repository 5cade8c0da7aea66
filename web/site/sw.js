// The site offline after a first visit: every file of the site's own origin is fetched from the
// network when it can be (so an update shows at once) and kept; without a network the kept copy
// serves.
const kCache = 'kelm-site';
const kSite = ['./', 'index.html', 'style.css', 'app.js', 'driver.js', 'hid_link.js', 'sim_device.js',
  'flash_store.js', 'messages.js', 'kelm.js', 'kelm.wasm'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(kCache).then((cache) => cache.addAll(kSite)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(self.clients.claim());
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(kCache);
    try {
      const response = await fetch(request);
      if (response.ok) await cache.put(request, response.clone());
      return response;
    } catch (error) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept) return kept;
      throw error;
    }
  })());
});
