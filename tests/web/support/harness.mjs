// What the browser tests share: the built site served on a free loopback port, a headless
// Chromium with a profile of its own, pages opened with the HID stand-in in front of their
// scripts, downloads, a screenshot and an axe-core check of each step, and kelmtool on --sim
// flash files to compare with.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

import { serveSite } from '../../../web/serve.mjs';
import { installStandin } from './hid_standin.js';

export const kRoot = resolve(dirname(fileURLToPath(import.meta.url)), '../../..');
export const kSite = join(kRoot, 'build/web/site');
export const kScreenshots = join(kRoot, 'build/web/screenshots');
export const kFlashSize = 2 * 1024 * 1024;
export const kSlotSize = 64 * 1024;
export const kNameOffset = 4;
const kNameSize = 244;
const kAxeSource = readFileSync(join(kRoot, 'node_modules/axe-core/axe.min.js'), 'utf8');
const kChromium = process.env.KELM_CHROMIUM || '/usr/bin/chromium';
const kKelmtool = process.env.KELMTOOL || join(kRoot, 'build/host/kelmtool');
const kStepTimeoutMs = 60000;
export const kPlainHost = 'kelm-board.test';

export function scratch(name) {
  return mkdtempSync(join(tmpdir(), `kelm-web-${name}-`));
}

// The site, a browser and a scratch folder for one test file; close() ends them all.
export async function startWorld(name) {
  const server = await serveSite(kSite, 0);
  const base = `http://127.0.0.1:${server.address().port}/`;
  const folder = scratch(name);
  const browser = await puppeteer.launch({
    executablePath: kChromium,
    headless: false,  // the flags below say it: --headless=new
    userDataDir: join(folder, 'profile'),
    args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      // A host name that is not loopback, for the page outside a secure context.
      `--host-resolver-rules=MAP ${kPlainHost} 127.0.0.1`],
  });
  mkdirSync(kScreenshots, { recursive: true });
  return {
    base,
    folder,
    browser,
    // The site's server gone, as when offline.
    async stopServer() {
      if (!server.listening) return;
      server.closeAllConnections();
      await new Promise((done) => server.close(done));
    },
    async close() {
      await browser.close();
      await this.stopServer();
      rmSync(folder, { recursive: true, force: true });
    },
  };
}

// A page of the site with the stand-in configured as config; downloads go to folder/downloads.
export async function openPage(world, config = {}, query = '') {
  const page = await world.browser.newPage();
  await page.setViewport({ width: 1000, height: 1200 });
  page.setDefaultTimeout(kStepTimeoutMs);
  page.errors = [];
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.evaluateOnNewDocument(installStandin, config);
  const downloads = join(world.folder, 'downloads');
  mkdirSync(downloads, { recursive: true });
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
  page.downloads = downloads;
  page.cdp = session;
  await page.goto(config.plainHost ? world.base.replace('127.0.0.1', kPlainHost) + query : world.base + query);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}

// A page connected to a board whose flash is the file at flashPath (or a new one), with the
// stand-in configured as config.
export async function openConnected(world, flashPath, config = {}, query = '') {
  const page = await openPage(world, { ...(flashPath ? { flash: base64(flashPath) } : {}), ...config }, query);
  await click(page, 'Connect');
  await waitFor(page, /^Connected\.$/);
  return page;
}

// Closes the page, which must have thrown nothing uncaught, nor sent its board anything outside
// the protocol (the simulated board's own account of breaches).
export async function close(page) {
  const errors = page.errors.slice();
  const breaches = await page.evaluate(() => (window.__standin && window.__standin.board ? window.__standin.board.violations() : ''));
  await page.close();
  assert.deepEqual(errors, [], 'the page threw');
  assert.equal(breaches, '', 'the page broke the protocol');
}

export async function reload(page) {
  await page.reload();
  await page.waitForSelector('body[data-ready="true"]');
}

export function button(page, name) {
  return page.$(`::-p-aria([name="${name}"][role="button"])`);
}

export async function click(page, name) {
  const handle = await button(page, name);
  assert.ok(handle, `no button named ${name}`);
  await handle.click();
}

export const text = (page, selector) => page.$eval(selector, (e) => e.textContent);

// Waits until the status or the alert matches pattern; returns both.
export async function waitFor(page, pattern) {
  await page.waitForFunction(
    (source) => {
      const re = new RegExp(source);
      return re.test(document.getElementById('status').textContent) || re.test(document.getElementById('alert').textContent);
    },
    {},
    pattern.source,
  ).catch(async (error) => {
    throw new Error(`${error.message}; status: ${await text(page, '#status')}; alert: ${await text(page, '#alert')}`);
  });
  return { status: await text(page, '#status'), alert: await text(page, '#alert') };
}

// The slot map's accessible names, from the browser's accessibility tree.
export async function slotNames(page) {
  const tree = await page.accessibility.snapshot({ root: await page.$('#slots'), interestingOnly: false });
  const names = [];
  const walk = (node) => {
    if (node.role === 'button') names.push(node.name);
    for (const child of node.children || []) walk(child);
  };
  walk(tree);
  return names;
}

export async function chooseFile(page, label, path) {
  const input = await page.evaluateHandle((wanted) => Array.from(document.querySelectorAll('input[type=file]'))
    .find((i) => Array.from(i.labels, (l) => l.textContent.trim()).includes(wanted)) || null, label);
  assert.ok(input.asElement(), `no input labelled ${label}`);
  await input.asElement().uploadFile(path);
}

// Answers the confirmation, whose text is returned.
export async function answer(page, yes) {
  await page.waitForSelector('dialog[open]');
  const question = await text(page, '#confirm-text');
  await (await page.$(`dialog[open] ::-p-aria([name="${yes ? 'Yes' : 'No'}"][role="button"])`)).click();
  return question;
}

// The file the page downloads as name, once complete.
export async function downloaded(page, name) {
  const path = join(page.downloads, name);
  const deadline = Date.now() + kStepTimeoutMs;
  while (!existsSync(path) || existsSync(`${path}.crdownload`)) {
    assert.ok(Date.now() < deadline, `${name} was not downloaded`);
    await new Promise((r) => setTimeout(r, 50));
  }
  let size = -1;
  while (statSync(path).size !== size) {
    size = statSync(path).size;
    await new Promise((r) => setTimeout(r, 100));
  }
  const bytes = readFileSync(path);
  rmSync(path);
  return bytes;
}

// A screenshot of the step and axe-core's verdict on it: no serious or critical violation.
export async function step(page, name) {
  await page.screenshot({ path: join(kScreenshots, `${name}.png`), fullPage: true });
  if (!(await page.evaluate(() => typeof window.axe !== 'undefined'))) {
    await page.addScriptTag({ content: kAxeSource });
  }
  const violations = await page.evaluate(async () => {
    const result = await window.axe.run(document);
    return result.violations
      .filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id}: ${v.help} (${v.nodes.map((n) => n.target.join(' ')).join(', ')})`);
  });
  assert.deepEqual(violations, [], `${name}: axe-core found serious or critical violations`);
}

// The simulated board's flash as the stand-in holds it.
export async function boardFlash(page) {
  return Buffer.from(await page.evaluate(() => window.__standin.flash()), 'base64');
}

export async function boardTrace(page) {
  return page.evaluate(() => window.__standin.trace.slice());
}

// ---- kelmtool

export function kelmtool(args, options = {}) {
  const run = spawnSync(kKelmtool, args, { encoding: 'utf8', maxBuffer: 1 << 28, ...options, env: { ...process.env, ASAN_OPTIONS: 'detect_leaks=0', ...options.env } });
  return { code: run.status, stdout: run.stdout, stderr: run.stderr };
}

export function kelmtoolOk(args, options) {
  const run = kelmtool(args, options);
  assert.equal(run.code, 0, `kelmtool ${args.join(" ")}: ${run.stderr.slice(-2000)}`);
  return run;
}

// A flash file made by kelmtool: files written in order, then bytes put straight in.
export function makeFlash(folder, name, writes = [], pokes = []) {
  const path = join(folder, name);
  rmSync(path, { force: true });
  for (const file of writes) kelmtoolOk(['--sim', path, 'write', file]);
  if (writes.length === 0) kelmtoolOk(['--sim', path, 'info']);
  const flash = readFileSync(path);
  for (const [address, bytes] of pokes) Buffer.from(bytes).copy(flash, address);
  writeFileSync(path, flash);
  return path;
}

// The name field of the image whose header is at slot, set to zero bytes.
export function withoutName(flash, slot) {
  const copy = Buffer.from(flash);
  copy.fill(0, slot * kSlotSize + kNameOffset, slot * kSlotSize + kNameOffset + kNameSize);
  return copy;
}

// Test files of each kind: a .gcb (BIOS magic), a DOL, an ELF and an unencrypted VGC.
export function makeImages(folder) {
  const pattern = (length, seed) => {
    const bytes = Buffer.alloc(length);
    let x = seed;
    for (let i = 0; i < length; i++) {
      x = (x * 1103515245 + 12345) >>> 0;
      bytes[i] = x >>> 24;
    }
    return bytes;
  };
  const files = {};
  const put = (name, bytes) => {
    files[name] = join(folder, name);
    writeFileSync(files[name], bytes);
  };
  // A BIOS image's own header: its magic, a name, zeros.
  const gcb = pattern(100000, 1);
  gcb.fill(0, 0, 256);
  Buffer.from('(C) kelm test bios').copy(gcb, 0);
  put('bios.gcb', gcb);
  put('game.dol', pattern(150000, 2));
  const elf = pattern(70000, 3);
  Buffer.from([0x7f, 0x45, 0x4c, 0x46]).copy(elf, 0);
  put('tool.elf', elf);
  const vgc = pattern(40000, 4);
  vgc[4] = 0;
  put('demo.vgc', vgc);
  return files;
}

export const base64 = (path) => readFileSync(path).toString('base64');
