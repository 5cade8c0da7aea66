// Writing each kind of image, verified: the flash then holds what kelmtool's write of the same
// file puts there, byte for byte but for the name field (the page writes the file's name, having
// no folder to name), and the reports are kelmtool's --trace. Where a file may start, and the
// files both refuse in the same words.
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync, truncateSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { after, before, test } from 'node:test';

import * as h from './support/harness.mjs';

let world;
let files;
let start;

before(async () => {
  world = await h.startWorld('write');
  files = h.makeImages(world.folder);
  start = h.makeFlash(world.folder, 'start.bin', [files['tool.elf']]);
});
after(() => world.close());

// kelmtool's trace lines (out and feature) against the page's: equal, but for the reports that
// carry the header's name field (its data reports and their read-back), which keep their kind.
function assertSameReports(page, tool, nameMayDiffer) {
  assert.ok(page.length >= tool.length, `the page sent ${page.length} reports, kelmtool ${tool.length}`);
  const differing = [];
  for (let i = 0; i < tool.length; i++) {
    if (page[i] === tool[i]) continue;
    differing.push(i);
    assert.equal(page[i].slice(0, 12), tool[i].slice(0, 12), `report ${i} is of another kind`);
  }
  // 256 header bytes: 5 data reports out, 5 answers back.
  assert.ok(differing.length <= (nameMayDiffer ? 10 : 0), `reports ${differing.join(', ')} differ`);
}

for (const name of ['bios.gcb', 'game.dol', 'tool.elf', 'demo.vgc']) {
  test(`a ${name.split('.')[1]} written and verified is kelmtool's write`, async () => {
    const mine = join(world.folder, `tool-${name}.bin`);
    copyFileSync(start, mine);
    const run = h.kelmtoolOk(['--sim', mine, '--trace', '--json', 'write', files[name], '--verify']);
    const slot = JSON.parse(run.stdout).slot;
    const toolTrace = run.stderr.split('\n').filter((l) => /^(out|feature) /.test(l));

    const page = await h.openConnected(world, start);
    const before = (await h.boardTrace(page)).length;
    await h.chooseFile(page, 'Image file', files[name]);
    await h.waitFor(page, new RegExp(`^${name}: `));
    await h.click(page, 'Write');
    assert.match((await h.waitFor(page, /^Wrote .*verified\.$/)).status, new RegExp(`slots? ${slot}\\b`));
    if (name === 'game.dol') await h.step(page, '04-written');
    assertSameReports((await h.boardTrace(page)).slice(before), toolTrace, name !== 'bios.gcb');

    const flash = await h.boardFlash(page);
    const expected = readFileSync(mine);
    assert.ok(h.withoutName(flash, slot).equals(h.withoutName(expected, slot)), 'flash differs beyond the name field');
    const nameField = flash.subarray(slot * h.kSlotSize + 4, slot * h.kSlotSize + 248);
    const wanted = name === 'bios.gcb' ? expected.subarray(slot * h.kSlotSize + 4, slot * h.kSlotSize + 248)
      : Buffer.concat([Buffer.from(name), Buffer.alloc(244 - name.length)]);
    assert.ok(nameField.equals(wanted), `name field: ${nameField.toString('latin1').replace(/\0+$/, '')}`);
    await h.close(page);
  });
}

test('a write starts at the free slot chosen, and slots that cannot take the file show it', async () => {
  const page = await h.openConnected(world, start);
  const cannotTake = () => page.$$eval('#slots button', (bs) => bs.flatMap((b, slot) => (b.classList.contains('cannot-take') ? [slot] : [])));
  // game.dol needs 3 slots: not from 30 on.
  await h.chooseFile(page, 'Image file', files['game.dol']);
  await h.waitFor(page, /^game\.dol: /);
  assert.deepEqual(await cannotTake(), [30, 31]);
  // A .gcb, dropped on the page, starts at an even slot.
  await page.evaluate((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0))], 'bios.gcb'));
    document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, h.base64(files['bios.gcb']));
  await h.waitFor(page, /^bios\.gcb: /);
  assert.deepEqual(await cannotTake(), [3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31]);
  await h.click(page, 'Slot 12: free');
  await h.click(page, 'Write');
  await h.waitFor(page, /^Wrote bios\.gcb to slots 12-13, verified\.$/);
  assert.deepEqual((await h.slotNames(page)).slice(12, 14), ['Slot 12: BIOS', 'Slot 13: ...']);
  await h.close(page);
});

test('files kelmtool refuses are refused in its words, and nothing is written', async () => {
  const refused = {
    'header.gcb': Buffer.concat([Buffer.from('(C) '), Buffer.alloc(252)]),
    'odd.gcb': Buffer.concat([Buffer.from('ABCD'), Buffer.alloc(1000)]),
    'tiny.dol': Buffer.alloc(100, 1),
    'plain.elf': Buffer.alloc(500, 2),
    'secret.vgc': Buffer.from([0, 0, 0, 0, 2, 0, 0, 0]),
    'empty.dol': Buffer.alloc(0),
    // Disc-sized and sparse: refused without the page reading it all.
    'disc.vgc': [Buffer.alloc(8), 3 * 1024 ** 3],
  };
  const page = await h.openConnected(world, start);
  const before = (await h.boardTrace(page)).length;
  for (const [name, content] of Object.entries(refused)) {
    const [bytes, length] = Buffer.isBuffer(content) ? [content, content.length] : content;
    writeFileSync(join(world.folder, name), bytes);
    truncateSync(join(world.folder, name), length);
    const run = h.kelmtool(['--sim', join(world.folder, 'unused.bin'), 'write', name], { cwd: world.folder });
    assert.equal(run.code, 2, name);
    const words = run.stderr.trim().replace(/^kelmtool write: /, '');
    await h.chooseFile(page, 'Image file', join(world.folder, name));
    const { alert } = await h.waitFor(page, new RegExp(basename(name).replace('.', '\\.')));
    assert.ok(alert.toLowerCase().startsWith(words.toLowerCase().replace(/\.$/, '')), `${name}: "${alert}" is not "${words}"`);
    assert.ok(await page.$eval('#write', (b) => b.disabled), `${name}: Write stays off`);
    if (name === 'header.gcb') await h.step(page, '05-file-refused');
  }
  assert.equal((await h.boardTrace(page)).length, before, 'no report went to the board');
  await h.close(page);
});
