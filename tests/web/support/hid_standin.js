// The stand-in for navigator.hid, put in front of the page's scripts by the tests: it serves the
// simulated board of the site's own WebAssembly module through the site's SimDevice, records
// every report as kelmtool's --trace writes it, and fails on purpose as config asks. The real
// WebHID is never reached: navigator.hid is this object (or undefined) before the page runs.
//
// config: { absent, chooseNone, flash (base64), faults: [{kind, at}], eraseBusyPolls, busHeld,
//           leadingZero (feature reports of 65 bytes, as some Chrome versions on Windows give),
//           paceMs (each report waits for its turn on a clock of that period, as USB frames run),
//           timed (the times each report entered and left the board, in __standin.times),
//           openRefused (open() fails with NotAllowedError, as on Linux without the udev rule) }.
// While running, __standin.holdAt = N makes the board's exchange N wait until __standin.go(), and
// __standin.board takes faults.
export function installStandin(config) {
  if (config.absent) {
    Object.defineProperty(Navigator.prototype, 'hid', { get: () => undefined, configurable: true });
    return;
  }
  const hex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join(' ');
  const hid = new EventTarget();
  const standin = { trace: [], requests: 0, allowed: false, board: null, device: null, held: null, holdAt: -1, times: [] };
  let making = null;

  async function makeDevice() {
    const { default: loadKelm } = await import('/kelm.js');
    const { SimDevice } = await import('/sim_device.js');
    const kelm = await loadKelm();
    const board = new kelm.SimBoard();
    if (config.flash) {
      board.flashBuffer().set(Uint8Array.from(atob(config.flash), (c) => c.charCodeAt(0)));
      board.loadFlash();
    }
    for (const fault of config.faults || []) board.injectFault(fault.kind, fault.at);
    if (config.eraseBusyPolls) board.setEraseBusyPolls(config.eraseBusyPolls);
    if (config.busHeld) board.setBusHeldByOther(true);
    const device = new SimDevice(board, kelm.vendorId, kelm.productId);
    const send = device.sendReport.bind(device);
    const fetch = device.receiveFeatureReport.bind(device);
    // Frames of paceMs run on whether the page is ready or not: a report that comes late goes at
    // once. The wait holds the page's thread, as a steady board would, for exact figures.
    let frame = 0;
    const hold = async () => {
      if (config.paceMs) {
        frame = Math.max(frame + config.paceMs, performance.now());
        while (performance.now() < frame);
      }
      if (board.exchangeCount() !== standin.holdAt) return;
      await new Promise((resolve) => {
        standin.held = resolve;
      });
    };
    const timed = async (call) => {
      if (!config.timed) return call();
      const entered = performance.now();
      const result = await call();
      standin.times.push(entered, performance.now());
      return result;
    };
    device.sendReport = (reportId, data) => timed(async () => {
      await hold();
      await send(reportId, data);
      const bytes = new Uint8Array(data.buffer || data, data.byteOffset || 0, data.byteLength);
      if (!config.timed) standin.trace.push(`out 00 ${hex(bytes)}`);
    });
    device.receiveFeatureReport = (reportId) => timed(async () => {
      await hold();
      const view = await fetch(reportId);
      const bytes = new Uint8Array(view.buffer);
      if (!config.timed) standin.trace.push(`feature 00 ${hex(bytes)}`);
      if (!config.leadingZero) return view;
      const longer = new Uint8Array(65);
      longer.set(bytes, 1);
      return new DataView(longer.buffer);
    });
    if (config.openRefused) {
      device.open = async () => {
        throw new DOMException('Failed to open the device.', 'NotAllowedError');
      };
    }
    device.addEventListener('gone', () => {
      const event = new Event('disconnect');
      event.device = device;
      hid.dispatchEvent(event);
    });
    standin.board = board;
    standin.device = device;
    return device;
  }

  const device = () => (making = making || makeDevice());
  hid.getDevices = async () => (standin.allowed ? [await device()] : []);
  hid.requestDevice = async () => {
    standin.requests++;
    if (config.chooseNone) return [];
    standin.allowed = true;
    return [await device()];
  };
  standin.go = () => standin.held && standin.held();
  // The board pulled out while nothing runs: the system tells the page at once.
  standin.unplug = () => {
    standin.board.unplug();
    const event = new Event('disconnect');
    event.device = standin.device;
    hid.dispatchEvent(event);
  };
  standin.flash = () => {
    const bytes = standin.board.flash();
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) {
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    }
    return btoa(text);
  };
  Object.defineProperty(Navigator.prototype, 'hid', { get: () => hid, configurable: true });
  window.__standin = standin;
}
