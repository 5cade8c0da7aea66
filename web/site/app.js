// The page: a board reached over WebHID (or the simulated board in the page), its slot map, and
// the acts on its flash, each a job of the engine in WebAssembly driven over the link.
import loadKelm from './kelm.js';
import { runJob } from './driver.js';
import { HidLink } from './hid_link.js';
import { SimDevice } from './sim_device.js';
import { loadFlash, saveFlash } from './flash_store.js';
import * as words from './messages.js';

const $ = (id) => document.getElementById(id);

// Every status poll ends with an error after this long, as kelmtool's --timeout; the page takes
// ?timeout=SECONDS in its address.
const kDefaultTimeoutS = 30;
const kMinTimeoutS = 0.1;
const kMaxTimeoutS = 3600;

const kSlotStates = ['free', 'used', 'corrupted'];
const kKindOfMagic = { '28432920': 'BIOS', '454c4600': 'ELF', '444f4c00': 'DOL', '42494e00': 'BIN' };
const kDumpName = 'kelm-flash.bin';
const kSimFlashName = 'kelm-sim-flash.bin';
// How often the progress of a job is drawn.
const kDrawEveryMs = 100;
// An input report: the report ID and 8 bytes.
const kInputReportSize = 9;

function pollLimitMs() {
  const asked = Number(new URLSearchParams(location.search).get('timeout'));
  const seconds = asked >= kMinTimeoutS && asked <= kMaxTimeoutS ? asked : kDefaultTimeoutS;
  return seconds * 1000;
}

function isBoard(kelm, device) {
  return device.vendorId === kelm.vendorId && device.productId === kelm.productId;
}

function download(bytes, name) {
  const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// A message as a sentence: a file's name that opens it keeps its case.
function sentence(text, name = '') {
  const opening = name && text.startsWith(name) ? text : text.charAt(0).toUpperCase() + text.slice(1);
  return opening + (/[.!?]$/.test(text) ? '' : '.');
}

// The bytes of a file (or a part of one), or null when it cannot be read (changed or removed
// since it was chosen), which the alert says.
async function readFile(blob, name) {
  try {
    return new Uint8Array(await blob.arrayBuffer());
  } catch (error) {
    $('alert').textContent = words.unreadable(name, error);
    return null;
  }
}

function bytesText(n) {
  return n.toLocaleString('en');
}

class Page {
  constructor(kelm) {
    this.kelm = kelm;
    this.session = null;
    this.device = null;
    this.link = null;
    this.sim = null;  // the simulated board, when trying without one
    this.savedChanges = 0;
    this.selected = -1;
    this.busy = false;
    this.connecting = false;  // between Connect (or Try without a board) and the slots read
    this.unplugged = false;
    this.image = null;  // {name, length, bytes} of the image file (bytes: its first ones, if longer than the flash)
    this.imageOk = false;
    this.dump = null;  // {name, length, bytes, ok} of the dump file (bytes: none, if not the flash's length)
    this.onDisconnect = (event) => {
      if (event.device === this.device) this.lost();
    };
    this.onInput = (event) => this.input(event);
    this.buildSlots();
    this.wire();
    this.render();
  }

  // ---- the page's parts

  buildSlots() {
    const list = $('slots');
    this.slotButtons = [];
    for (let slot = 0; slot < this.kelm.slotCount; slot++) {
      const item = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      button.addEventListener('click', () => this.select(slot));
      item.append(button);
      list.append(item);
      this.slotButtons.push(button);
    }
  }

  wire() {
    $('connect').addEventListener('click', () => this.once(() => this.connect()));
    $('try').addEventListener('click', () => this.once(() => this.tryWithoutBoard()));
    $('disconnect').addEventListener('click', () => this.disconnect());
    $('write').addEventListener('click', () => this.write());
    $('verify').addEventListener('click', () => this.verify());
    $('backup').addEventListener('click', () => this.backUp());
    $('erase').addEventListener('click', () => this.erase());
    $('dump').addEventListener('click', () => this.dumpFlash());
    $('restore').addEventListener('click', () => this.restore());
    $('cancel').addEventListener('click', () => this.session && this.session.askStop());
    $('image-file').addEventListener('change', (e) => this.chooseImage(e.target.files[0]));
    $('dump-file').addEventListener('change', (e) => this.chooseDump(e.target.files[0]));
    $('save-flash').addEventListener('click', () => this.sim && download(this.sim.flash().slice(), kSimFlashName));
    $('load-flash').addEventListener('change', (e) => this.loadSimFlash(e.target.files[0]));
    document.addEventListener('dragover', (e) => {
      e.preventDefault();
      // While a job runs its file stays the one chosen, as the file inputs are disabled.
      e.dataTransfer.dropEffect = this.busy ? 'none' : 'copy';
      $('drop-zone').classList.toggle('drop-target', !this.busy);
    });
    document.addEventListener('dragleave', () => $('drop-zone').classList.remove('drop-target'));
    document.addEventListener('drop', (e) => {
      e.preventDefault();
      $('drop-zone').classList.remove('drop-target');
      if (this.busy) return this.alert(words.kDropWhileBusy);
      if (e.dataTransfer.files.length > 0) this.chooseImage(e.dataTransfer.files[0]);
    });
    if (navigator.hid) navigator.hid.addEventListener('disconnect', this.onDisconnect);
  }

  status(text) {
    $('status').textContent = text;
  }

  alert(text) {
    $('alert').textContent = text;
  }

  connected() {
    return this.link !== null;
  }

  // ---- connecting

  // A second press while the first still connects would attach the board twice, the second
  // session deleting the first in the middle of its job.
  async once(connecting) {
    if (this.connecting) return;
    this.connecting = true;
    this.render();
    try {
      await connecting();
    } finally {
      this.connecting = false;
      this.render();
    }
  }

  async connect() {
    this.alert('');
    if (!window.isSecureContext) return this.alert(words.kInsecure);
    if (!navigator.hid) return this.alert(words.kNoWebHid);
    let device;
    try {
      // A board allowed before comes back without the chooser.
      device = (await navigator.hid.getDevices()).find((d) => isBoard(this.kelm, d));
      if (!device) {
        const chosen = await navigator.hid.requestDevice({
          filters: [{ vendorId: this.kelm.vendorId, productId: this.kelm.productId }],
        });
        device = chosen.find((d) => isBoard(this.kelm, d));
      }
    } catch (error) {
      return this.alert(words.openFailed(error));
    }
    if (!device) return this.alert(words.kNoBoardChosen);
    try {
      if (!device.opened) await device.open();
    } catch (error) {
      return this.alert(error.name === 'NotAllowedError' ? words.kNotAllowed : words.openFailed(error));
    }
    await this.attach(device, null);
  }

  async tryWithoutBoard() {
    this.alert('');
    const board = new this.kelm.SimBoard();
    let kept = null;
    try {
      kept = await loadFlash();
    } catch {
      // A browser without IndexedDB (a private window of some) starts from an erased flash.
    }
    if (kept && kept.length === this.kelm.flashSize) {
      board.flashBuffer().set(kept);
      board.loadFlash();
    }
    const device = new SimDevice(board, this.kelm.vendorId, this.kelm.productId);
    await device.open();
    await this.attach(device, board);
  }

  async attach(device, sim) {
    this.device = device;
    this.sim = sim;
    this.savedChanges = sim ? sim.changes() : 0;
    this.unplugged = false;
    this.link = new HidLink(device);
    // One engine per board: what the last one knew (the bus held, say) is of another board.
    if (this.session) this.session.delete();
    this.session = new this.kelm.Session(pollLimitMs());
    device.addEventListener('inputreport', this.onInput);
    $('sim-section').hidden = !sim;
    if (this.image) this.prepareImage();
    if (this.dump) this.prepareDump();
    if (await this.run('reading the slots', () => this.session.startCatalogue(), false)) {
      this.status(sim ? 'Connected to the simulated board.' : 'Connected.');
    }
    this.render();
  }

  input(event) {
    const report = new Uint8Array(kInputReportSize);
    report[0] = event.reportId;
    report.set(new Uint8Array(event.data.buffer, event.data.byteOffset, Math.min(kInputReportSize - 1, event.data.byteLength)), 1);
    this.session.applyInput(report);
    $('board-text').textContent = this.session.inputText();
  }

  async disconnect() {
    const bios = this.session.biosInSlotZero();
    const notice = this.kelm.noticeText(bios).trim().replace('\n', ' ');
    await this.release();
    this.status(bios ? `Disconnected. ${notice}` : 'Disconnected.');
    this.alert(bios ? '' : notice);
  }

  // The board gone: unplugged, or let go of.
  lost() {
    this.unplugged = true;
    if (!this.busy) {
      this.release();
      this.status('The board was unplugged.');
    }
  }

  async release() {
    const device = this.device;
    this.device = null;
    this.link = null;
    // The simulated board's memory is the module's, not the garbage collector's.
    if (this.sim) this.sim.delete();
    this.sim = null;
    this.selected = -1;
    $('board-text').textContent = '';
    if (device) {
      device.removeEventListener('inputreport', this.onInput);
      try {
        if (device.opened) await device.close();
      } catch {
        // Closing a board that is gone changes nothing.
      }
    }
    this.render();
  }

  // ---- files

  // A file longer than the flash is refused from its first bytes and its length: reading all of
  // a disc image would take the page's memory, and it would be refused all the same.
  async chooseImage(file) {
    this.alert('');
    const head = file && file.size > this.kelm.flashSize ? file.slice(0, this.kelm.imageHeadSize) : file;
    this.image = file ? { name: file.name, length: file.size, bytes: await readFile(head, file.name) } : null;
    this.imageOk = false;
    if (this.image && !this.image.bytes) this.image = null;
    if (this.image && this.session) this.prepareImage();
    this.render();
  }

  // Hands the image file to the session, which checks it as kelmtool does.
  prepareImage() {
    this.session.fileBuffer(this.image.bytes.length).set(this.image.bytes);
    const refusal = this.session.prepareImage(this.image.name, this.image.length);
    this.imageOk = refusal === '';
    if (!this.imageOk) this.alert(`${sentence(refusal, this.image.name)} Choose another file.`);
    else this.status(`${this.image.name}: ${this.session.imageKind()}, ${bytesText(this.session.imageLength())} bytes on the flash, ${this.session.imageSlots()} slot(s).`);
  }

  async chooseDump(file) {
    this.alert('');
    // Only a file of the flash's length is read: any other is refused from its length.
    const read = file && file.size === this.kelm.flashSize ? file : new Blob([]);
    this.dump = file ? { name: file.name, length: file.size, bytes: await readFile(read, file.name) } : null;
    if (this.dump && !this.dump.bytes) this.dump = null;
    if (this.dump && this.session) this.prepareDump();
    this.render();
  }

  prepareDump() {
    this.session.dumpBuffer(this.dump.bytes.length).set(this.dump.bytes);
    const refusal = this.session.checkDump(this.dump.name, this.dump.length);
    this.dump.ok = refusal === '';
    if (!this.dump.ok) this.alert(`${sentence(refusal, this.dump.name)} Choose a dump made by Dump or by kelmtool dump.`);
  }

  async loadSimFlash(file) {
    if (!file || !this.sim) return;
    if (file.size !== this.kelm.flashSize) {
      return this.alert(words.wrongFlashFileSize(file.size, this.kelm.flashSize));
    }
    const bytes = await readFile(file, file.name);
    if (!bytes) return;
    this.sim.flashBuffer().set(bytes);
    this.sim.loadFlash();
    await this.keepSimFlash(true);
    await this.run('reading the slots', () => this.session.startCatalogue(), false);
    this.status(`Loaded ${file.name} onto the simulated board.`);
  }

  async keepSimFlash(always) {
    if (!this.sim || (!always && this.sim.changes() === this.savedChanges)) return;
    this.savedChanges = this.sim.changes();
    try {
      await saveFlash(this.sim.flash());
    } catch (error) {
      this.alert(`The simulated board's flash could not be kept in this browser (${error.message}); save it with "Save flash file".`);
    }
  }

  // ---- the slot map

  select(slot) {
    this.selected = this.selected === slot ? -1 : slot;
    const label = this.session ? this.session.label(slot) : '';
    if (this.selected >= 0 && this.session) {
      const owner = this.session.owner(slot);
      this.status(owner >= 0 && this.session.state(slot) !== 0
        ? `Slot ${slot}: ${label}, part of the image in slot ${owner} (${this.session.name(owner) || 'no name'}).`
        : `Slot ${slot}: free.`);
    }
    this.render();
  }

  selectedRun() {
    if (!this.session || this.selected < 0 || this.session.state(this.selected) === 0) return -1;
    return this.session.owner(this.selected);
  }

  render() {
    const session = this.session;
    const connected = this.connected();
    for (let slot = 0; slot < this.slotButtons.length; slot++) {
      const button = this.slotButtons[slot];
      const label = connected ? session.label(slot) : '';
      const state = connected ? kSlotStates[session.state(slot)] : 'free';
      button.setAttribute('aria-label', `Slot ${slot}: ${label}`);
      button.innerHTML = '';
      const number = document.createElement('span');
      number.className = 'number';
      number.textContent = String(slot);
      button.append(number, label || '\u2013');
      button.dataset.state = state;
      button.setAttribute('aria-pressed', String(slot === this.selected));
      const cannotTake = connected && this.imageOk && state === 'free' && !session.canPlace(slot);
      button.classList.toggle('cannot-take', cannotTake);
      button.title = cannotTake ? `${this.image.name} cannot start here` : '';
      button.disabled = !connected || this.busy;
    }
    const body = $('images').tBodies[0];
    body.innerHTML = '';
    if (connected) {
      for (let slot = 0; slot < this.kelm.slotCount; slot++) {
        if (session.state(slot) === 0 || session.owner(slot) !== slot) continue;
        const row = body.insertRow();
        const kind = kKindOfMagic[session.magic(slot)] || '???';
        for (const text of [slot, session.runOf(slot), session.name(slot), kind, bytesText(session.size(slot))]) {
          row.insertCell().textContent = String(text);
        }
      }
    }
    const idle = connected && !this.busy;
    const run = this.selectedRun();
    $('connect').disabled = connected || this.busy || this.connecting;
    $('try').disabled = connected || this.busy || this.connecting;
    $('disconnect').disabled = !idle;
    $('write').disabled = !(idle && this.imageOk);
    $('verify').disabled = !(idle && this.imageOk && run >= 0);
    $('backup').disabled = !(idle && run >= 0);
    $('erase').disabled = !(idle && run >= 0);
    $('dump').disabled = !idle;
    $('restore').disabled = !(idle && this.dump && this.dump.ok);
    $('cancel').disabled = !this.busy;
    for (const id of ['image-file', 'dump-file', 'load-flash', 'save-flash']) $(id).disabled = this.busy;
  }

  // ---- running jobs

  // Runs the job that start starts ('' or why it cannot), showing progress as what; reads the
  // slots again afterwards when changes is set. True when the job completed.
  async run(what, start, changes) {
    const refused = start();
    if (refused) {
      this.alert(`${sentence(refused)}`);
      return false;
    }
    this.busy = true;
    this.status(`${what.charAt(0).toUpperCase()}${what.slice(1)}\u2026`);
    this.render();
    const progress = { stage: '', since: 0 };
    // Drawn on a timer too, so that a board slow to answer still shows where it is.
    const drawing = setInterval(() => this.progress(progress), kDrawEveryMs);
    const done = await runJob(this.session, this.link, () => this.progress(progress));
    clearInterval(drawing);
    const stopped = !done && this.session.failureKind() === 'Stopped';
    if (!done) await this.failed(what);
    this.busy = false;
    $('progress').value = done ? $('progress').max : 0;
    $('progress-text').textContent = '';
    if (changes && this.connected()) await this.keepSimFlash(false);
    // The slots as they now are. After a failure the message says what they hold instead: the
    // board failed once, and a read that failed too would hide that message.
    if (changes && this.connected() && (done || stopped)) {
      this.session.startCatalogue();
      if (!(await runJob(this.session, this.link))) await this.failed('reading the slots');
    }
    if (this.unplugged) await this.release();
    this.render();
    return done;
  }

  progress(progress) {
    const session = this.session;
    const stage = session.stage();
    const now = performance.now();
    if (stage !== progress.stage) {
      progress.stage = stage;
      progress.since = now;
    }
    const done = session.stageDone();
    const total = session.stageTotal();
    if (!stage || total === 0) return;
    $('progress').max = total;
    $('progress').value = done;
    const seconds = (now - progress.since) / 1000;
    const rate = seconds > 0 ? done / seconds : 0;
    const left = rate > 0 ? Math.ceil((total - done) / rate) : 0;
    $('progress-text').textContent =
      `${stage}: ${bytesText(done)} of ${bytesText(total)} bytes` +
      (rate > 0 ? `, ${bytesText(Math.round(rate / 1024))} KB/s, ${left} s left` : '');
  }

  // Says how a job ended that did not complete, what the flash now holds, and what to do.
  async failed(what) {
    const session = this.session;
    const kind = session.failureKind();
    const holds = session.stoppedText();
    if (kind === 'Stopped') {
      const release = session.releaseFailed() ? ` The bus could not be given back: ${session.failureText()}.` : '';
      this.status(`Cancelled ${what}: ${holds}.${release}`);
      return;
    }
    if (this.unplugged) {
      this.alert(`The board was unplugged while ${what}: ${holds}. Plug it in again and press Connect.`);
      return;
    }
    const advice = words.kAdvice[kind] || '';
    const message = kind === 'Mismatch' ? sentence(session.failureText()) : `${sentence(session.failureText())} While ${what}: ${holds}.`;
    this.alert(`${message} ${advice}`.trim());
    // The bus is given back when the link still works, so that the machine can boot.
    if (session.busHeld()) {
      session.startRelease();
      await runJob(session, this.link);
    }
  }

  // ---- the acts

  async write() {
    this.alert('');
    const verify = $('verify-after').checked;
    const at = this.selected >= 0 && this.session.state(this.selected) === 0 ? this.selected : -1;
    if (!(await this.reread())) return;
    const name = this.image.name;
    if (await this.run(`writing ${name}`, () => this.session.startWrite(at, verify), true)) {
      const first = this.session.jobFirst();
      const count = this.session.jobCount();
      this.status(`Wrote ${name} to slot${count > 1 ? `s ${first}-${first + count - 1}` : ` ${first}`}${verify ? ', verified' : ''}.`);
    }
  }

  async verify() {
    this.alert('');
    const slot = this.selected;
    if (!(await this.reread())) return;
    const name = this.image.name;
    if (await this.run(`verifying against ${name}`, () => this.session.startVerify(slot), false)) {
      const note = this.session.nameDiffers() ? ' (the name field differs: the file was written under another name; that is no mismatch)' : '';
      this.status(`The image in slot ${this.session.jobFirst()} matches ${name}${note}.`);
    }
  }

  async backUp() {
    this.alert('');
    const slot = this.selected;
    if (!(await this.reread())) return;
    if (await this.run('backing up', () => this.session.startBackup(slot), false)) {
      const first = this.session.jobFirst();
      const name = `kelm-slot-${first}.gcb`;
      download(this.session.readBytes().slice(), name);
      this.status(`Saved the image in slot ${first} as ${name}.`);
    }
  }

  async erase() {
    this.alert('');
    const slot = this.selected;
    if (!(await this.reread())) return;
    // The slots read again may show the image gone: the session refuses such a slot in words.
    if (this.session.state(slot) === 0) return this.alert(sentence(this.session.startErase(slot)));
    const first = this.session.owner(slot);
    const count = this.session.runOf(first);
    const range = count > 1 ? `slots ${first}-${first + count - 1}` : `slot ${first}`;
    const warning = first === 0 ? ' The machine will no longer boot from the board.' : '';
    if (!(await this.confirm(`Erase the ${this.session.label(first)} image in ${range}?${warning}`))) return;
    if (await this.run('erasing', () => this.session.startErase(slot), true)) {
      this.selected = -1;
      this.status(`Erased ${range}.`);
    }
  }

  async dumpFlash() {
    this.alert('');
    if (await this.run('dumping the flash', () => this.session.startDump(), false)) {
      download(this.session.readBytes().slice(), kDumpName);
      this.status(`Saved the whole flash as ${kDumpName}.`);
    }
  }

  async restore() {
    this.alert('');
    const name = this.dump.name;
    if (!(await this.confirm(`Erase the whole flash and write ${name} onto it?`))) return;
    const verify = $('verify-after').checked;
    if (await this.run(`restoring ${name}`, () => this.session.startRestore(verify), true)) {
      this.status(`Restored ${name} onto the whole flash${verify ? ', verified' : ''}.`);
    }
  }

  // The slots read again before an act, as kelmtool reads them first.
  async reread() {
    return this.run('reading the slots', () => this.session.startCatalogue(), false);
  }

  confirm(text) {
    const dialog = $('confirm');
    $('confirm-text').textContent = text;
    return new Promise((resolve) => {
      const answer = (yes) => {
        dialog.removeEventListener('click', clicked);
        dialog.removeEventListener('cancel', cancelled);
        if (dialog.open) dialog.close();
        resolve(yes);
      };
      const clicked = (event) => {
        if (event.target.value === 'yes' || event.target.value === 'no') answer(event.target.value === 'yes');
      };
      const cancelled = () => answer(false);
      dialog.addEventListener('click', clicked);
      dialog.addEventListener('cancel', cancelled);
      dialog.showModal();
    });
  }
}

async function main() {
  if ('serviceWorker' in navigator && window.isSecureContext) {
    navigator.serviceWorker.register('sw.js').catch(() => {
      // Without it the page works as long as it is online.
    });
  }
  const kelm = await loadKelm();
  const page = new Page(kelm);
  if (!window.isSecureContext) page.alert(words.kInsecure);
  else if (!navigator.hid) page.alert(words.kNoWebHid);
  document.body.dataset.ready = 'true';
}

main();
