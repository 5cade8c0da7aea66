// Try without a board: the simulated board in the page, its flash kept in the browser across a
// reload, saved and loaded as the flash file of kelmtool --sim; and the site offline once seen.
import assert from 'node:assert/strict';
import { writeFileSync } from 'node:fs';
import { after, before, test } from 'node:test';

import * as h from './support/harness.mjs';

let world;
let files;

before(async () => {
  world = await h.startWorld('try');
  files = h.makeImages(world.folder);
});
after(() => world.close());

test('the simulated board keeps its flash across a reload, as the file kelmtool --sim reads', async () => {
  // No WebHID at all: the simulated board needs none.
  const page = await h.openPage(world, { absent: true });
  await h.click(page, 'Try without a board');
  await h.waitFor(page, /^Connected to the simulated board\.$/);
  await h.chooseFile(page, 'Image file', files['game.dol']);
  await h.click(page, 'Write');
  await h.waitFor(page, /^Wrote game\.dol to slots 0-2, verified\.$/);
  await h.step(page, '12-simulated-board');
  await h.reload(page);
  await h.click(page, 'Try without a board');
  await h.waitFor(page, /^Connected to the simulated board\.$/);
  assert.deepEqual((await h.slotNames(page)).slice(0, 4), ['Slot 0: Appl.', 'Slot 1: ...', 'Slot 2: ...', 'Slot 3: free']);

  await h.click(page, 'Save flash file');
  const saved = await h.downloaded(page, 'kelm-sim-flash.bin');
  assert.equal(saved.length, h.kFlashSize);
  const file = `${world.folder}/saved.bin`;
  writeFileSync(file, saved);
  const info = JSON.parse(h.kelmtoolOk(['--sim', file, '--json', 'info']).stdout);
  assert.equal(info.images[0].name, 'game.dol');

  const other = h.makeFlash(world.folder, 'other.bin', [files['bios.gcb'], files['demo.vgc']]);
  await h.chooseFile(page, 'Flash file to load', other);
  await h.waitFor(page, /^Loaded other\.bin/);
  const names = JSON.parse(h.kelmtoolOk(['--sim', other, '--json', 'info']).stdout).slots.map((s) => `Slot ${s.slot}: ${s.label}`);
  assert.deepEqual(await h.slotNames(page), names);
  await h.reload(page);
  await h.click(page, 'Try without a board');
  await h.waitFor(page, /^Connected to the simulated board\.$/);
  assert.deepEqual(await h.slotNames(page), names);
  await h.close(page);
});

test('the flash kept is the flash, though the WebAssembly memory grows while it is stored', async () => {
  const page = await h.openPage(world, { absent: true });
  const kept = await page.evaluate(async () => {
    const { default: loadKelm } = await import('/kelm.js');
    const { loadFlash, saveFlash } = await import('/flash_store.js');
    const kelm = await loadKelm();
    const board = new kelm.SimBoard();
    board.flashBuffer().fill(0x5a);
    board.loadFlash();
    const saving = saveFlash(board.flash());
    // Memory grown under the view: the view is detached.
    const grown = new kelm.Session(1000);
    grown.fileBuffer(64 << 20);
    grown.delete();
    await saving;
    const flash = await loadFlash();
    return flash.length === kelm.flashSize && flash.every((b) => b === 0x5a);
  });
  assert.ok(kept);
  await h.close(page);
});

test('once visited, the site works without its server', async () => {
  const page = await h.openPage(world, { absent: true });
  await page.evaluate(() => navigator.serviceWorker.ready);
  await h.reload(page);  // now under the service worker
  await world.stopServer();
  await h.reload(page);
  assert.ok(await page.evaluate(() => navigator.serviceWorker.controller !== null), 'served by the service worker');
  await h.click(page, 'Try without a board');
  await h.waitFor(page, /^Connected to the simulated board\.$/);
  await h.close(page);
});

