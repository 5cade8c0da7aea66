// The simulated board of sim/ (in the WebAssembly module) as a HID device: the same calls and
// events as a WebHID HIDDevice, so that the page drives it as it drives a real board.

const kReportSize = 65;
const kInputEveryMs = 50;

function bytesOf(data) {
  return data instanceof ArrayBuffer
    ? new Uint8Array(data)
    : new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
}

export class SimDevice extends EventTarget {
  // board: a SimBoard of the module.
  constructor(board, vendorId, productId) {
    super();
    this.board = board;
    this.vendorId = vendorId;
    this.productId = productId;
    this.productName = 'kelm (simulated)';
    this.collections = [];
    this.opened = false;
    this.oninputreport = null;
    this.timer = null;
  }

  async open() {
    if (!this.board.present()) throw new DOMException('Failed to open the device.', 'NetworkError');
    this.opened = true;
    // Like a board just plugged in, it greets with its two-line text, kelmtool's --sim board's.
    this.board.greet();
    this.timer = setInterval(() => this.pumpInput(), kInputEveryMs);
  }

  async close() {
    this.opened = false;
    clearInterval(this.timer);
    this.timer = null;
  }

  async forget() {
    await this.close();
  }

  async sendReport(reportId, data) {
    this.checkOpen();
    const report = new Uint8Array(kReportSize);
    report[0] = reportId;
    report.set(bytesOf(data).subarray(0, kReportSize - 1), 1);
    if (!this.board.writeOutput(report)) this.failed('Failed to write the report.');
  }

  async receiveFeatureReport() {
    this.checkOpen();
    const answer = this.board.getFeature();
    if (answer.length === 0) this.failed('Failed to receive the feature report.');
    // Behind the report ID, as WebHID gives it on Linux and macOS.
    return new DataView(answer.slice(1).buffer);
  }

  pumpInput() {
    for (;;) {
      const report = this.board.takeInput();
      if (report.length === 0) return;
      const event = new Event('inputreport');
      event.device = this;
      event.reportId = report[0];
      event.data = new DataView(report.slice(1).buffer);
      this.dispatchEvent(event);
      if (this.oninputreport) this.oninputreport(event);
    }
  }

  checkOpen() {
    if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
  }

  // A board gone away says so once, as a `gone` event, before the call fails.
  failed(message) {
    if (!this.board.present() && this.opened) {
      this.opened = false;
      clearInterval(this.timer);
      this.dispatchEvent(new Event('gone'));
    }
    throw new DOMException(message, 'NetworkError');
  }
}
