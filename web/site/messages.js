// What the page tells the user when something stands in the way, each with what to do.

export const kNoWebHid =
  'This browser cannot reach USB HID devices: WebHID is in Chrome, Edge and Opera (version 89 or ' +
  'later) on Windows, macOS, Linux and ChromeOS. Firefox and Safari do not have it. Open this page ' +
  'in one of those browsers, or press "Try without a board".';

export const kInsecure =
  'WebHID works only on a secure page: open it from an https:// address, or from ' +
  'http://127.0.0.1 or http://localhost on this machine (bash scripts/web.sh serves it there).';

export const kNoBoardChosen =
  'No board was chosen. Plug the kelm board in, press Connect again and pick it in the list ' +
  'the browser shows (vendor 03EB, product 0001).';

export const kUdevRule =
  'SUBSYSTEM=="hidraw", ATTRS{idVendor}=="03eb", ATTRS{idProduct}=="0001", TAG+="uaccess"';

export const kNotAllowed =
  'The browser was not allowed to open the board. On Linux, its hidraw node needs the project\'s ' +
  'udev rule: put this line into /etc/udev/rules.d/60-kelm.rules\n' +
  `    ${kUdevRule}\n` +
  'then run "sudo udevadm control --reload-rules", unplug the board, plug it in again and press ' +
  'Connect.';

export function openFailed(error) {
  return `The board could not be opened (${error.message}). Is another program (kelm, kelmtool) ` +
    'using it? Close that program, re-plug the board and press Connect.';
}

// The advice after a failure of the engine, by its kind.
export const kAdvice = {
  NotTaken: 'Check the cable, re-plug the board and press Connect.',
  NoStatus: 'Check the cable, re-plug the board and press Connect.',
  NoReadAnswer: 'Check the cable, re-plug the board and press Connect.',
  DataNotTaken: 'Check the cable, re-plug the board and press Connect.',
  PollTimedOut: 'Re-plug the board and try again; a longer limit can be given with ?timeout=SECONDS ' +
    'at the end of the page\'s address.',
  BusBusy: 'Let the machine the board is fitted to finish (or switch it off), then try again.',
  Mismatch: 'Erase the image and write it again; if it fails again, the flash may be worn.',
};

export function unreadable(name, error) {
  return `${name} could not be read (${error.message}): choose it again.`;
}

export function wrongFlashFileSize(size, expected) {
  return `That flash file is ${size} bytes long, not ${expected}: it is no kelm flash file.`;
}

export const kDropWhileBusy =
  'The file was not taken: an operation is running. Drop it again when it has ended.';
