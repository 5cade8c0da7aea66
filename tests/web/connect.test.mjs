// Connecting: the slot map and the images as kelmtool's info shows them, over either shape of
// feature report; the chooser left empty; a browser without WebHID.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import * as h from './support/harness.mjs';

let world;
let files;
let flash;

before(async () => {
  world = await h.startWorld('connect');
  files = h.makeImages(world.folder);
  // A BIOS, an application over several slots, an ELF, and a slot of left-over bytes (???).
  flash = h.makeFlash(world.folder, 'board.bin', [files['bios.gcb'], files['game.dol'], files['tool.elf']],
    [[20 * h.kSlotSize, [0x12, 0x34, 0x56, 0x78]]]);
});
after(() => world.close());

for (const leadingZero of [false, true]) {
  test(`the slot map and the images are kelmtool's (feature reports of ${leadingZero ? 65 : 64} bytes)`, async () => {
    const page = await h.openPage(world, { flash: h.base64(flash), leadingZero });
    // The second run presses Connect twice at once, as a double click does: it connects once.
    await page.$eval('#connect', (button, twice) => { button.click(); if (twice) button.click(); }, leadingZero);
    await h.waitFor(page, /^Connected\.$/);
    const info = JSON.parse(h.kelmtoolOk(['--sim', flash, '--json', 'info']).stdout);
    assert.deepEqual(await h.slotNames(page), info.slots.map((s) => `Slot ${s.slot}: ${s.label}`));
    const rows = await page.$$eval('#images tbody tr', (trs) => trs.map((tr) => Array.from(tr.cells, (c) => c.textContent)));
    // Names as kelmtool's text shows them, bytes outside ASCII escaped (its JSON cannot hold them).
    const shown = h.kelmtoolOk(['--sim', flash, 'info']).stdout.split('\n')
      .map((l) => /^ {2}slot +\d+ .* size \d+ {2}(.*)$/.exec(l)).filter(Boolean).map((m) => m[1]);
    assert.deepEqual(rows.map((r) => [Number(r[0]), Number(r[1]), r[2], Number(r[4].replace(/,/g, ''))]),
      info.images.map((i, n) => [i.slot, i.slots, shown[n], i.size]));
    assert.match(await h.text(page, '#board-text'), /kelm sim board/);
    if (!leadingZero) await h.step(page, '01-connected');
    await h.close(page);
  });
}

test('a slot chosen is pressed; Disconnect reminds; a board allowed before needs no chooser; unplugged, it is let go', async () => {
  const page = await h.openConnected(world, flash);
  await h.click(page, 'Slot 3: ...');
  assert.equal(await page.$eval('::-p-aria([name="Slot 3: ..."])', (b) => b.getAttribute('aria-pressed')), 'true');
  assert.match(await h.text(page, '#status'), /part of the image in slot 2/);
  await h.step(page, '02-slot-chosen');
  await h.click(page, 'Disconnect');
  const { status } = await h.waitFor(page, /^Disconnected/);
  assert.match(status, /Remember unplugging USB if you want to boot!/);
  // Allowed once, the board comes back without the chooser; pulled out, the page lets it go.
  await h.click(page, 'Connect');
  await h.waitFor(page, /^Connected\.$/);
  assert.equal(await page.evaluate(() => window.__standin.requests), 1);
  await page.evaluate(() => window.__standin.unplug());
  await h.waitFor(page, /^The board was unplugged\.$/);
  assert.equal(await page.$eval('#connect', (b) => b.disabled), false);
  await h.close(page);
});

test('no board chosen, a board the system will not open, no WebHID, no secure context: each says what to do', async () => {
  const none = await h.openPage(world, { chooseNone: true });
  await h.click(none, 'Connect');
  assert.match((await h.waitFor(none, /No board was chosen/)).alert, /press Connect again/);
  await h.close(none);
  const refused = await h.openPage(world, { openRefused: true });
  await h.click(refused, 'Connect');
  const { alert: udev } = await h.waitFor(refused, /not allowed/);
  // The rule is the one the project installs.
  const rule = readFileSync(join(h.kRoot, 'packaging/60-kelm.rules'), 'utf8').split('\n').find((l) => l.startsWith('SUBSYSTEM'));
  assert.ok(udev.includes(`/etc/udev/rules.d/60-kelm.rules\n    ${rule}\n`), udev);
  assert.match(udev, /unplug the board, plug it in again/);
  await h.close(refused);
  const absent = await h.openPage(world, { absent: true });
  const { alert } = await h.waitFor(absent, /WebHID/);
  assert.match(alert, /Chrome, Edge and Opera/);
  await h.click(absent, 'Connect');
  assert.match(await h.text(absent, '#alert'), /Try without a board/);
  await h.step(absent, '03-no-webhid');
  await h.close(absent);
  // Over plain http from a host name, the browser has no WebHID either, and the page says why.
  const plain = await h.openPage(world, { absent: true, plainHost: true });
  assert.equal(await plain.evaluate(() => window.isSecureContext), false);
  assert.match((await h.waitFor(plain, /secure/)).alert, /https:\/\/ address, or from http:\/\/127\.0\.0\.1 or http:\/\/localhost/);
  await h.close(plain);
});
