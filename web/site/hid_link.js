// The board as the engine reaches it over WebHID (or over the simulated board, which looks the
// same): one 64-byte output report sent, one feature report fetched. The engine's reports are 65
// bytes with the report ID in front; WebHID takes and gives the 64 bytes behind it.

const kReportId = 0;
const kReportBytes = 64;

// The engine's 65 bytes from what receiveFeatureReport gave: 64 bytes, or 65 with a leading 0 as
// some Chrome versions on Windows give them; anything else is no answer.
export function featureAnswer(view) {
  const bytes = new Uint8Array(view.buffer, view.byteOffset, view.byteLength);
  const answer = new Uint8Array(kReportBytes + 1);
  if (bytes.length === kReportBytes) {
    answer.set(bytes, 1);
    return answer;
  }
  if (bytes.length === kReportBytes + 1 && bytes[0] === kReportId) {
    answer.set(bytes);
    return answer;
  }
  return null;
}

export class HidLink {
  constructor(device) {
    this.device = device;
  }

  // report: the engine's 65 bytes. Whether the board took it.
  async send(report) {
    try {
      await this.device.sendReport(kReportId, report.slice(1));
      return true;
    } catch {
      return false;
    }
  }

  // The engine's 65 bytes, or null when the fetch failed.
  async fetch() {
    try {
      return featureAnswer(await this.device.receiveFeatureReport(kReportId));
    } catch {
      return null;
    }
  }
}
