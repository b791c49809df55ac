// Checks the browser page, moltravytext.html, as a person meets it: opened
// from disk in Debian's Chromium, headless, driven by playwright-core, used
// by keyboard. Each case writes a line with a glyph set and saves the
// picture through the page's link; the saved bytes must be the native
// program's for the same line and glyph files, and a refused set must show
// the program's own line and keep the earlier picture. The page must make
// no network request at all and lay out at 200% zoom without scrolling
// sideways. Times are shown, never judged: how fast the page is, against
// the native program, is the benchmark's (bench/pagetimes.mjs); a step
// fails here only past a ceiling that a hang alone reaches (30 s).
//
// Usage: node tests/pagecheck.mjs PAGE NATIVEPROGRAM GLYPHFOLDER [SCREENSHOT]
// (run from a folder whose node_modules holds playwright-core).
import { execFileSync } from 'node:child_process';
import { copyFileSync, cpSync, mkdirSync, mkdtempSync, readFileSync,
  readdirSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import process from 'node:process';

const require = createRequire(join(process.cwd(), 'node_modules'));
const { chromium } = require('playwright-core');
const [page, native, defaults, screenshot] = process.argv.slice(2).map((p) => p && resolve(p));
const work = mkdtempSync(join(tmpdir(), 'pagecheck-'));
const typical = 'The sun is up. We walk down to the sea. Will you come too?';
const long = readFileSync(new URL('../bench/long.txt', import.meta.url), 'utf8').trimEnd();
let failed = 0;
const check = (ok, what) => {
  console.log(`${ok ? 'pass' : 'FAIL'}: ${what}`);
  if (!ok) failed++;
};

// folderof: a new folder holding the given glyph files, made by make(name,
// from, to) from the default set's.
function folderof(label, make) {
  const folder = join(work, label);
  mkdirSync(folder);
  for (const name of readdirSync(defaults))
    make(name, join(defaults, name), join(folder, name));
  return folder;
}

// nativerun: the native program's picture for line in folder, or null.
function nativerun(folder, line) {
  const run = join(work, 'native');
  rmSync(run, { recursive: true, force: true });
  cpSync(folder, run, { recursive: true });
  try {
    execFileSync(native, [], { cwd: run, input: line + '\n', stdio: ['pipe', 'ignore', 'ignore'] });
  } catch {
    return null;
  }
  return readFileSync(join(run, 'moltravytext.bmp'));
}

const plain = folderof('plain', (name, from, to) => copyFileSync(from, to));
// Run-length BMPs, as ImageMagick writes them by default for a grey picture.
const runlength = folderof('runlength', (name, from, to) =>
  execFileSync('/usr/bin/convert', [from, '-compress', 'RLE', `BMP3:${to}`]));
const broken = folderof('broken', (name, from, to) =>
  name === 'q.bmp' ? writeFileSync(to, 'not a picture\n') : copyFileSync(from, to));
const some = folderof('some', (name, from, to) => name !== 'q.bmp' && copyFileSync(from, to));

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});
const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1000, height: 800 } });
const tab = await context.newPage();
const requests = [];
tab.on('request', (r) => requests.push(r.url()));
const url = 'file://' + page;
const opened = Date.now();
await tab.goto(url, { waitUntil: 'load' });
const openms = Date.now() - opened;
console.log(`the page opened from disk in ${openms} ms`);

// write: types line into the focused field and presses Enter; returns the
// run's time, status and what the console shows.
async function write(line) {
  await tab.evaluate(() => delete document.getElementById('console').dataset.ms);
  await tab.focus('#message');
  await tab.fill('#message', line);
  await tab.keyboard.press('Enter');
  await tab.waitForFunction(() => document.getElementById('console').dataset.ms,
    null, { timeout: 30000 });
  return tab.evaluate(() => {
    const c = document.getElementById('console');
    return { ms: Number(c.dataset.ms), status: Number(c.dataset.status), text: c.textContent };
  });
}

// saved: the picture saved through the page's link, reached by Tab.
async function saved() {
  await tab.focus('#message');
  await tab.keyboard.press('Tab'); // the Write button
  const download = tab.waitForEvent('download');
  await tab.keyboard.press('Tab'); // the link
  await tab.keyboard.press('Enter');
  return readFileSync(await (await download).path());
}

// choose: gives the page a glyph set through its file picker.
async function choose(folder) {
  if (await tab.isVisible('#default')) await tab.click('#default');
  await tab.setInputFiles('#glyphs', readdirSync(folder).map((n) => join(folder, n)));
  await tab.waitForFunction(() => /your files/.test(document.getElementById('glyphset').textContent));
  return tab.textContent('#glyphset');
}

const cases = [
  { label: 'the default set', folder: plain, line: 'Hello, World!' },
  { label: 'the typical message', folder: plain, line: typical },
  { label: 'the long message', folder: plain, line: long },
  { label: 'run-length glyphs through the picker', folder: runlength, choose: true, line: 'Is it read? Yes.' },
  { label: 'a broken glyph file', folder: broken, choose: true, line: 'Not this one.' },
  { label: 'a set without q.bmp', folder: some, choose: true, line: 'Quiet.', says: 'Missing: q.bmp.' },
];
let earlier = null;
for (const c of cases) {
  if (c.choose) {
    const said = await choose(c.folder);
    if (c.says) check(said.includes(c.says), `${c.label}: the page says "${said}"`);
  }
  const run = await write(c.line);
  const want = nativerun(c.folder, c.line);
  const picture = await saved();
  if (want) {
    check(run.status === 0 && picture.equals(want),
      `${c.label}: the saved picture is the native program's (${picture.length} bytes, ${run.ms} ms)`);
  } else {
    check(run.status === 1 && run.text.endsWith('currentletter = NULL\n\n') && picture.equals(earlier),
      `${c.label}: refused with the program's line, the earlier picture kept`);
  }
  earlier = picture;
  if (screenshot && c.line === typical)
    await tab.screenshot({ path: screenshot, fullPage: false });
}

// 200% zoom: half the width, nothing wider than the window.
await tab.setViewportSize({ width: 640, height: 400 });
const sideways = await tab.evaluate(() =>
  document.documentElement.scrollWidth > document.documentElement.clientWidth);
check(!sideways, 'at 200% zoom the page does not scroll sideways');

const network = requests.filter((u) => u !== url && !u.startsWith('blob:'));
check(network.length === 0, `no network request (${network.join(' ') || 'none'})`);
await browser.close();
rmSync(work, { recursive: true, force: true });
process.exit(failed ? 1 : 0);
