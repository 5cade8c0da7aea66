// What the user meets when things go wrong: the board unplugged during a write, a Cancel, a bus
// held by the machine, an erase that outlasts the poll limit, a status that does not come. Each
// says what happened, what the flash now holds and what to do.
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync } from 'node:fs';
import { after, before, test } from 'node:test';

import * as h from './support/harness.mjs';

let world;
let files;
let flash;

before(async () => {
  world = await h.startWorld('faults');
  files = h.makeImages(world.folder);
  // tool.elf in slots 0-1: game.dol goes to slots 2-4.
  flash = h.makeFlash(world.folder, 'board.bin', [files['tool.elf']]);
});
after(() => world.close());

async function exchanges(page) {
  return page.evaluate(() => window.__standin.board.exchangeCount());
}

const headerErased = (bytes, slot) => bytes.subarray(slot * h.kSlotSize, slot * h.kSlotSize + 256).every((b) => b === 0xff);

test('a board unplugged during a write: the page says so, and what slots 2-4 now hold', async () => {
  const page = await h.openConnected(world, flash);
  await h.chooseFile(page, 'Image file', files['game.dol']);
  const at = (await exchanges(page)) + 600;
  await page.evaluate((n) => window.__standin.board.injectFault('unplug', n), at);
  await h.click(page, 'Write');
  const { alert } = await h.waitFor(page, /unplugged/);
  assert.equal(alert, 'The board was unplugged while writing game.dol: slots 2-4 hold part of game.dol ' +
    'without its header: slot 2 reads as free, slots 3-4 may read as ??? until they are written or erased; ' +
    'nothing else was changed. Plug it in again and press Connect.');
  assert.equal(await page.$eval('#connect', (b) => b.disabled), false, 'Connect is offered again');
  const left = await h.boardFlash(page);
  assert.ok(headerErased(left, 2), 'slot 2 reads as free');
  // kelmtool's board unplugged at the same report of its run leaves the same flash.
  const tool = `${world.folder}/unplugged.bin`;
  copyFileSync(flash, tool);
  const run = h.kelmtool(['--sim', tool, 'write', files['game.dol']], { env: { KELMTOOL_SIM_FAULTS: 'unplug@600' } });
  assert.equal(run.code, 1, run.stderr);
  assert.ok(left.equals(readFileSync(tool)), 'the flash differs from kelmtool\'s');
  await h.step(page, '09-unplugged');
  await h.close(page);
});

test('Cancel stops between two reports, gives the bus back and leaves the header unwritten', async () => {
  const page = await h.openConnected(world, flash);
  await h.chooseFile(page, 'Image file', files['game.dol']);
  await page.evaluate((n) => { window.__standin.holdAt = n; }, (await exchanges(page)) + 900);
  await h.click(page, 'Write');
  await page.waitForFunction(() => window.__standin.held !== null);
  await page.waitForFunction(() => /^writing: [\d,]+ of 150,256 bytes/.test(document.getElementById('progress-text').textContent));
  await h.step(page, '10-writing');
  // While it runs its file stays the one chosen: the file inputs are disabled, a drop is refused.
  assert.ok(await page.$eval('#image-file', (input) => input.disabled));
  await page.evaluate(() => {
    const dropped = new DataTransfer();
    dropped.items.add(new File([new Uint8Array(300)], 'other.dol'));
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, cancelable: true }));
  });
  assert.match(await h.text(page, '#alert'), /^The file was not taken: an operation is running/);
  await h.click(page, 'Cancel');
  await page.evaluate(() => window.__standin.go());
  const { status } = await h.waitFor(page, /^Cancelled/);
  assert.equal(status, 'Cancelled writing game.dol: slots 2-4 hold part of game.dol without its header: ' +
    'slot 2 reads as free, slots 3-4 may read as ??? until they are written or erased; nothing else was changed.');
  const trace = await h.boardTrace(page);
  const release = trace.findLastIndex((l) => l.startsWith('out 00 08 00 00 '));
  assert.ok(release > trace.length - 6, 'the bus release ends the write');
  assert.ok(!trace.slice(release).some((l) => l.startsWith('out 00 03 ')), 'no CMD_WRITE after it');
  const stopped = await h.boardFlash(page);
  assert.ok(headerErased(stopped, 2));
  assert.deepEqual((await h.slotNames(page)).slice(2, 3), ['Slot 2: free']);
  // kelmtool's Ctrl-C at the same report of its run (its catalogue, then the write) leaves the
  // same flash.
  const tool = `${world.folder}/interrupted.bin`;
  copyFileSync(flash, tool);
  const run = h.kelmtool(['--sim', tool, 'write', files['game.dol']], { env: { KELMTOOL_SIM_SIGNAL: '2@900' } });
  assert.equal(run.code, 130, run.stderr);
  assert.ok(stopped.equals(readFileSync(tool)), 'the flash differs from kelmtool\'s after its Ctrl-C');
  await h.close(page);
});

test('a bus held by the machine, a poll that runs out, a status that never comes', async () => {
  const busy = await h.openPage(world, { flash: h.base64(flash), busHeld: true });
  await h.click(busy, 'Connect');
  assert.match((await h.waitFor(busy, /bus is busy/)).alert, /Let the machine the board is fitted to finish/);
  await h.close(busy);

  const slow = await h.openConnected(world, flash, { eraseBusyPolls: 1e9 }, '?timeout=0.2');
  await h.click(slow, 'Slot 0: Appl.');
  await h.click(slow, 'Erase');
  await h.answer(slow, true);
  const { alert } = await h.waitFor(slow, /within/);
  assert.match(alert, /^The board did not finish the erase of slot 0 within 200 ms\. While erasing: slot 0 may be erased in part, .*\?timeout=SECONDS/);
  await h.close(slow);

  const patient = await h.openConnected(world, flash, { eraseBusyPolls: 30 });
  await h.click(patient, 'Slot 1: ...');
  await h.click(patient, 'Erase');
  await h.answer(patient, true);
  await h.waitFor(patient, /^Erased slots 0-1\.$/);
  await h.close(patient);

  const mute = await h.openConnected(world, flash);
  await h.chooseFile(mute, 'Image file', files['game.dol']);
  const at = await exchanges(mute);
  await mute.evaluate((n) => { for (let i = 0; i < 400; i++) window.__standin.board.injectFault('refuse', n + i); }, at + 200);
  await h.click(mute, 'Write');
  assert.match((await h.waitFor(mute, /did not answer/)).alert, /While writing game\.dol: .*Check the cable, re-plug the board and press Connect\.$/);
  await h.step(mute, '11-no-answer');
  await h.close(mute);
});

test('a job reads its own copy of its file: one chosen while it runs changes nothing, and no job starts beside it', async () => {
  const page = await h.openPage(world, { absent: true });
  const got = await page.evaluate(async (chosen, other) => {
    const { default: loadKelm } = await import('/kelm.js');
    const { runJob } = await import('/driver.js');
    const { HidLink } = await import('/hid_link.js');
    const { SimDevice } = await import('/sim_device.js');
    const kelm = await loadKelm();
    const device = new SimDevice(new kelm.SimBoard(), kelm.vendorId, kelm.productId);
    await device.open();
    const session = new kelm.Session(1000);
    const give = (name, base64) => {
      const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
      session.fileBuffer(bytes.length).set(bytes);
      return session.prepareImage(name, bytes.length);
    };
    const inner = new HidLink(device);
    let reports = 0;
    let refused = null;
    const link = {
      send: (report) => {
        if (++reports === 400) {
          give('tool.elf', other);
          refused = [session.startDump(), session.startRestore(false), session.startCatalogue()];
        }
        return inner.send(report);
      },
      fetch: () => inner.fetch(),
    };
    session.startCatalogue();
    await runJob(session, inner);
    give('game.dol', chosen);
    session.startWrite(-1, true);
    const verified = await runJob(session, link);
    return { verified, refused, stopped: session.stoppedText() };
  }, h.base64(files['game.dol']), h.base64(files['tool.elf']));
  const running = 'another operation is running: wait for it to end';
  assert.deepEqual(got.refused, [running, running, running]);
  assert.equal(got.verified, true, got.stopped);
  await h.close(page);
});

test('a Cancel pressed as a job gives the bus back ends that job as it was: the next one runs', async () => {
  const page = await h.openConnected(world, flash);
  await h.click(page, 'Slot 0: Appl.');
  const first = await exchanges(page);
  await h.click(page, 'Back up');
  await h.waitFor(page, /^Saved the image in slot 0/);
  const release = (await h.boardTrace(page)).findLastIndex((l) => l.startsWith('out 00 08 00 00 '));
  // The same again, held at its bus release.
  await page.evaluate((n) => { window.__standin.holdAt = n; }, (await exchanges(page)) + release - first);
  await h.click(page, 'Back up');
  await page.waitForFunction(() => window.__standin.held !== null);
  await h.click(page, 'Cancel');
  await page.evaluate(() => window.__standin.go());
  await h.waitFor(page, /^Saved the image in slot 0/);
  await h.click(page, 'Dump');
  assert.match((await h.waitFor(page, /^(Saved the whole flash|Cancelled)/)).status, /^Saved the whole flash/);
  await h.close(page);
});
