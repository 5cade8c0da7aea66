// Back up, Dump, Verify, Erase and Restore: the downloads are kelmtool's files byte for byte, the
// flash after an erase or a restore is kelmtool's, and nothing changes before a Yes.
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync, truncateSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import * as h from './support/harness.mjs';

let world;
let files;
let flash;

before(async () => {
  world = await h.startWorld('actions');
  files = h.makeImages(world.folder);
  // BIOS in slots 0-1, game.dol in slots 2-4, tool.elf in slots 5-6.
  flash = h.makeFlash(world.folder, 'board.bin', [files['bios.gcb'], files['game.dol'], files['tool.elf']]);
});
after(() => world.close());

test('Back up saves the application a slot belongs to, and Dump the whole flash, as kelmtool does', async () => {
  const page = await h.openConnected(world, flash);
  await h.click(page, 'Slot 3: ...');
  await h.click(page, 'Back up');
  await h.waitFor(page, /^Saved the image in slot 2 as kelm-slot-2\.gcb\.$/);
  const backup = join(world.folder, 'backup.gcb');
  h.kelmtoolOk(['--sim', flash, 'backup', '3', '-o', backup, '--force']);
  assert.ok((await h.downloaded(page, 'kelm-slot-2.gcb')).equals(readFileSync(backup)));
  await h.step(page, '06-backed-up');
  await h.click(page, 'Dump');
  await h.waitFor(page, /^Saved the whole flash/);
  const dump = join(world.folder, 'dump.bin');
  h.kelmtoolOk(['--sim', flash, 'dump', '-o', dump, '--force']);
  const got = await h.downloaded(page, 'kelm-flash.bin');
  assert.equal(got.length, h.kFlashSize);
  assert.ok(got.equals(readFileSync(dump)));
  await h.close(page);
});

test('Verify passes on the file written, says when only the name differs, and fails on another', async () => {
  const page = await h.openConnected(world, flash);
  await h.chooseFile(page, 'Image file', files['game.dol']);
  await h.click(page, 'Slot 4: ...');
  await h.click(page, 'Verify');
  // kelmtool wrote the absolute path into the name field; the page has the file's name only.
  assert.match((await h.waitFor(page, /matches game\.dol/)).status, /name field differs/);
  // The board's name, taken for that comparison, stays out of a write of the same file.
  await h.click(page, 'Write');
  await h.waitFor(page, /^Wrote game\.dol to slots 7-9/);
  const name = 7 * h.kSlotSize + h.kNameOffset;
  assert.equal((await h.boardFlash(page)).subarray(name, name + 9).toString('latin1'), 'game.dol\0');
  await h.chooseFile(page, 'Image file', files['tool.elf']);
  await h.click(page, 'Verify');
  const tool = h.kelmtool(['--sim', flash, 'verify', '2', files['tool.elf']]);
  assert.equal(tool.code, 4, tool.stderr);
  const { alert } = await h.waitFor(page, /^Verify failed/);
  // The same words as kelmtool's, the file named as the page knows it.
  const said = tool.stderr.trim().replace(/^kelmtool v/, 'V').replace(files['tool.elf'], 'tool.elf');
  assert.ok(alert.startsWith(said), `${alert} / ${tool.stderr}`);
  await h.close(page);
});

test('Erase asks first: No leaves the flash, Yes erases the run as kelmtool does', async () => {
  const page = await h.openConnected(world, flash);
  await h.click(page, 'Slot 2: Appl.');
  await h.click(page, 'Erase');
  assert.equal(await h.answer(page, false), 'Erase the Appl. image in slots 2-4?');
  assert.ok((await h.boardFlash(page)).equals(readFileSync(flash)), 'No changed the flash');
  await h.click(page, 'Erase');
  await page.waitForSelector('dialog[open]');
  await h.step(page, '07-erase-asked');
  await h.answer(page, true);
  await h.waitFor(page, /^Erased slots 2-4\.$/);
  const erased = join(world.folder, 'erased.bin');
  copyFileSync(flash, erased);
  h.kelmtoolOk(['--sim', erased, 'erase', '2', '--yes']);
  assert.ok((await h.boardFlash(page)).equals(readFileSync(erased)));
  assert.deepEqual((await h.slotNames(page)).slice(2, 5), ['Slot 2: free', 'Slot 3: free', 'Slot 4: free']);
  // Slot 0: the machine boots from it.
  await h.click(page, 'Slot 1: ...');
  await h.click(page, 'Erase');
  assert.match(await h.answer(page, false), /^Erase the BIOS image in slots 0-1\? The machine will no longer boot from the board\.$/);
  // Erased meanwhile by another program: the slots read again show it, and nothing is asked.
  await h.click(page, 'Slot 5: Appl.');
  await page.evaluate((from, to) => {
    const board = window.__standin.board;
    const now = board.flash().slice().fill(0xff, from, to);
    board.flashBuffer().set(now);
    board.loadFlash();
  }, 5 * h.kSlotSize, 7 * h.kSlotSize);
  await h.click(page, 'Erase');
  assert.equal((await h.waitFor(page, /is free/)).alert, 'Slot 5 is free.');
  await h.close(page);
});

test('Restore asks first, then puts the dump on the flash; a file of another size is refused', async () => {
  const other = h.makeFlash(world.folder, 'other.bin', [files['demo.vgc']]);
  const page = await h.openConnected(world, flash);
  const short = join(world.folder, 'short.bin');
  writeFileSync(short, Buffer.alloc(1000));
  await h.chooseFile(page, 'Dump file', short);
  const tool = h.kelmtool(['--sim', join(world.folder, 'x.bin'), 'restore', 'short.bin', '--yes'], { cwd: world.folder });
  assert.equal(tool.code, 2);
  const { alert } = await h.waitFor(page, /short\.bin is/);
  assert.ok(alert.startsWith(tool.stderr.trim().replace(/^kelmtool restore: /, '')), alert);
  assert.ok(await page.$eval('#restore', (b) => b.disabled));
  // Disc-sized and sparse: refused from its length, unread.
  const huge = join(world.folder, 'huge.bin');
  writeFileSync(huge, '');
  truncateSync(huge, 3 * 1024 ** 3);
  await h.chooseFile(page, 'Dump file', huge);
  assert.match((await h.waitFor(page, /huge\.bin is/)).alert, /^huge\.bin is 3221225472 bytes long, not a dump of 2097152/);
  await h.chooseFile(page, 'Dump file', other);
  await h.click(page, 'Restore');
  assert.equal(await h.answer(page, false), 'Erase the whole flash and write other.bin onto it?');
  assert.ok((await h.boardFlash(page)).equals(readFileSync(flash)), 'No changed the flash');
  await h.click(page, 'Restore');
  await h.answer(page, true);
  await h.waitFor(page, /^Restored other\.bin onto the whole flash, verified\.$/);
  assert.ok((await h.boardFlash(page)).equals(readFileSync(other)));
  assert.deepEqual((await h.slotNames(page)).slice(0, 3), ['Slot 0: BIOS', 'Slot 1: free', 'Slot 2: free']);
  await h.step(page, '08-restored');
  await h.close(page);
});
