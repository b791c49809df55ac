// Checks the browser page, moltravytext.html, and the site, as people meet
// them, in each browser engine: Chromium (Debian's, driven by playwright-core), Firefox
// ESR (Debian's, over WebDriver BiDi, by puppeteer-core) and WebKit, the
// engine of Safari (Debian's WebKitGTK, its MiniBrowser driven by
// WebKitWebDriver with selenium-webdriver; it needs an X display, so run
// this under xvfb-run). In each, by keyboard, the same table of cases: a
// line written with a glyph set, its picture saved through the page's links
// (the BMP the native program's bytes for the same line and glyph files,
// the PNG exactly its pixels), a picture too tall or too wide for a browser
// shown as a preview while the page goes on answering, lines typed during a
// run run after it in order, a refused set showing the program's line and
// keeping the earlier picture, the 29 glyph files dropped onto the page,
// Copy picture read back from the clipboard and Share with the share sheet
// recorded (each a PNG with the BMP's pixels). Then the site, served under
// /moltravytext/ by a plain static server (tests/siteserver.mjs): its first
// visit (Chromium: no installability error), then, with the server stopped
// and, where the driver can, the browser offline, the site opened from its
// service worker and every line written again. Then: no request leaves the
// page or the site's origin; axe-core finds no accessibility fault, at load
// and after the runs; at 320 pixels (a phone) and at 200% zoom nothing
// scrolls sideways. Times are shown, never judged: how
// fast the page is, against the native program, is the benchmark's
// (bench/pagetimes.mjs); a step fails here only past a ceiling that a hang
// alone reaches.
//
// Usage: node tests/pagecheck.mjs PAGE SITEFOLDER NATIVEPROGRAM GLYPHFOLDER
//            [SCREENSHOT]
// (run from a folder whose node_modules holds the drivers and axe-core, as
// scripts/setup fetches them into build-pagecheck/; SCREENSHOT, when given,
// is Chromium's picture of the page after the typical message; ENGINES in
// the environment, a list such as "chromium firefox", checks those alone).
import { execFileSync, spawn } from 'node:child_process';
import { copyFileSync, cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync,
  readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import process from 'node:process';
import { inflateSync } from 'node:zlib';
import { servesite } from './siteserver.mjs';

const require = createRequire(join(process.cwd(), 'node_modules'));
const [page, sitefolder, native, defaults, screenshot] =
  process.argv.slice(2).map((p) => p && resolve(p));
const url = 'file://' + page;
const work = mkdtempSync(join(tmpdir(), 'pagecheck-'));
const axesource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const ceiling = 30000; // a hang, not a slow machine
const typical = 'The sun is up. We walk down to the sea. Will you come too?';
const long = readFileSync(new URL('../bench/long.txt', import.meta.url), 'utf8').trimEnd();
let failed = 0;
const check = (ok, what) => {
  console.log(`${ok ? 'pass' : 'FAIL'}: ${what}`);
  if (!ok) failed++;
};
const pause = (ms) => new Promise((done) => setTimeout(done, ms));

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

// bmpgrey and pnggrey: a picture's size and grey bytes, row 0 first, from
// the program's BMP (24 bits, bottom-up, three equal bytes a pixel) and an
// 8-bit PNG whose every pixel is grey (a browser may make the page's grey
// PNG one of colour, with alpha, on the clipboard); null for any other.
function bmpgrey(bmp) {
  const width = bmp.readInt32LE(18);
  const height = bmp.readInt32LE(22);
  const grey = Buffer.alloc(width * height);
  for (let y = 0; y < height; y++)
    for (let x = 0; x < width; x++)
      grey[y * width + x] = bmp[54 + ((height - 1 - y) * width + x) * 3];
  return { width, height, grey };
}

function pnggrey(png) {
  let at = 8;
  let width = 0;
  let height = 0;
  let samples = 0;
  const data = [];
  while (at + 8 <= png.length) {
    const length = png.readUInt32BE(at);
    const type = png.toString('latin1', at + 4, at + 8);
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      // 8 bits a sample only: grey, colour, or colour and alpha.
      samples = body[8] === 8 && body[12] === 0 ? { 0: 1, 2: 3, 6: 4 }[body[9]] : 0;
      if (!samples) return null;
    }
    if (type === 'IDAT') data.push(body);
    at += 12 + length;
  }
  let raw;
  try {
    raw = inflateSync(Buffer.concat(data));
  } catch {
    return null;
  }
  // The rows unfiltered, as PNG defines the filters, each pixel samples
  // bytes; a pixel is grey when its colours are equal and it is opaque.
  const stride = width * samples;
  if (raw.length < height * (stride + 1)) return null;
  const rows = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let i = 0; i < stride; i++) {
      const v = raw[y * (stride + 1) + 1 + i];
      const a = i >= samples ? rows[y * stride + i - samples] : 0;
      const b = y ? rows[(y - 1) * stride + i] : 0;
      const c = i >= samples && y ? rows[(y - 1) * stride + i - samples] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c)
        ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      const predictor = [0, a, b, (a + b) >> 1, paeth][filter];
      rows[y * stride + i] = (v + predictor) & 255;
    }
  }
  const grey = Buffer.alloc(width * height);
  for (let i = 0; i < width * height; i++) {
    const pixel = rows.subarray(i * samples, (i + 1) * samples);
    if (samples > 1 && (pixel[1] !== pixel[0] || pixel[2] !== pixel[0] ||
      (samples === 4 && pixel[3] !== 255))) return null;
    grey[i] = pixel[0];
  }
  return { width, height, grey };
}

// waitfile: a download that lands in folder, once whole.
async function waitfile(folder, name) {
  const file = join(folder, name);
  for (let waited = 0, last = -1; waited < ceiling; waited += 100) {
    const names = readdirSync(folder);
    if (names.includes(name) && !names.some((n) => n.endsWith('.part'))) {
      const size = statSync(file).size;
      if (size === last && size > 0) return readFileSync(file);
      last = size;
    }
    await pause(100);
  }
  return Buffer.alloc(0);
}

// Each engine, behind the same few steps: open a page; run a script in
// it; press a key on the focused element; choose files in the picker;
// size the window; take the download the last key started; take the
// network away (false where the driver cannot); the installability errors
// Chromium finds (null elsewhere); every request the driver saw.
const chromiumargs = ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run'];
const launch = {
  async chromium() {
    const { chromium } = require('playwright-core');
    // A profile on disk, as people have: Chromium installs nothing from an
    // incognito window. The clipboard is granted, as a person grants it.
    const context = await chromium.launchPersistentContext(mkdtempSync(join(work, 'chromium-')),
      { executablePath: '/usr/bin/chromium', args: chromiumargs, acceptDownloads: true,
        viewport: { width: 1000, height: 800 } });
    await context.grantPermissions(['clipboard-read', 'clipboard-write']);
    const tab = context.pages()[0] || await context.newPage();
    tab.setDefaultTimeout(ceiling);
    const requests = [];
    tab.on('request', (r) => requests.push(r.url()));
    let download = null;
    tab.on('download', (d) => { download = d; });
    return {
      tab,
      requests: () => requests,
      open: (to) => tab.goto(to),
      run: (fn, arg) => tab.evaluate(fn, arg),
      inject: (source) => tab.evaluate(source),
      press: (key) => tab.keyboard.press(key),
      choose: (paths) => tab.setInputFiles('#glyphs', paths),
      size: (width, height) => tab.setViewportSize({ width, height }),
      expectdownload: () => { download = null; },
      async saved() {
        for (let waited = 0; !download && waited < ceiling; waited += 100) await pause(100);
        return download ? readFileSync(await download.path()) : Buffer.alloc(0);
      },
      offline: async () => { await context.setOffline(true); return true; },
      clipboard() { return pageclipboard(this); },
      async installability() {
        const cdp = await context.newCDPSession(tab);
        const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
        return installabilityErrors.map((e) => e.errorId);
      },
      close: () => context.close(),
    };
  },

  async firefox() {
    const puppeteer = require('puppeteer-core');
    const downloads = mkdtempSync(join(work, 'firefox-'));
    // In the X display when there is one: headless, Firefox's clipboard
    // holds text alone.
    const browser = await puppeteer.launch({
      browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: !process.env.DISPLAY,
      defaultViewport: { width: 1000, height: 800 },
      extraPrefsFirefox: {
        'browser.download.dir': downloads, 'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        // The downloads panel would take the keyboard from the page.
        'browser.download.alwaysOpenPanel': false,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.helperApps.neverAsk.saveToDisk': 'image/bmp,image/png',
        // The clipboard read back without Firefox's paste prompt.
        'dom.events.testing.asyncClipboard': true,
      },
    });
    const tab = await browser.newPage();
    tab.setDefaultTimeout(ceiling);
    const requests = [];
    tab.on('request', (r) => requests.push(r.url()));
    let expected = '';
    return {
      requests: () => requests,
      open: (to) => tab.goto(to),
      run: (fn, arg) => tab.evaluate(fn, arg),
      inject: (source) => tab.evaluate(source),
      press: (key) => tab.keyboard.press(key),
      choose: async (paths) => (await tab.$('#glyphs')).uploadFile(...paths),
      size: (width, height) => tab.setViewport({ width, height }),
      expectdownload: (name) => {
        expected = name;
        for (const n of readdirSync(downloads)) rmSync(join(downloads, n));
      },
      saved: () => waitfile(downloads, expected),
      offline: async () => { await tab.setOfflineMode(true); return true; },
      clipboard() { return pageclipboard(this); },
      installability: async () => null,
      close: () => browser.close(),
    };
  },

  async webkit() {
    const { Builder, By, Key } = require('selenium-webdriver');
    const downloads = mkdtempSync(join(work, 'webkit-'));
    const port = 20000 + (process.pid % 20000);
    const server = spawn('/usr/bin/WebKitWebDriver', [`--port=${port}`], {
      stdio: 'ignore', env: { ...process.env, HOME: downloads, XDG_DOWNLOAD_DIR: downloads },
    });
    let driver = null;
    for (let waited = 0; !driver && waited < ceiling; waited += 200) {
      await pause(200);
      try {
        driver = await new Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
          browserName: 'MiniBrowser',
          'webkitgtk:browserOptions': {
            binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser',
            args: ['--automation'],
          },
        }).build();
      } catch {
        driver = null;
      }
    }
    await driver.manage().setTimeouts({ script: ceiling, pageLoad: ceiling });
    const keys = { Enter: Key.ENTER, Tab: Key.TAB };
    let expected = '';
    return {
      // WebDriver classic sees no requests: the CSP's reports, the pages'
      // own loads and the server's log stand in.
      requests: () => [],
      open: (to) => driver.get(to),
      run: (fn, arg) => driver.executeAsyncScript(
        `const done = arguments[arguments.length - 1];
         Promise.resolve((${fn})(arguments[0])).then(done, (e) => done(String(e)));`, arg),
      inject: (source) => driver.executeScript(source),
      press: async (key) => (await driver.switchTo().activeElement()).sendKeys(keys[key]),
      choose: async (paths) => (await driver.findElement(By.id('glyphs'))).sendKeys(paths.join('\n')),
      size: (width, height) => driver.manage().window().setRect({ width, height }),
      expectdownload: (name) => {
        expected = name;
        for (const n of readdirSync(downloads)) if (n.endsWith('.bmp') || n.endsWith('.png')) rmSync(join(downloads, n));
      },
      saved: () => waitfile(downloads, expected),
      // WebDriver classic has no network to take away: the server stops.
      offline: async () => false,
      // WebKit lets a page read the clipboard only when a person pastes:
      // the display's clipboard, as another program pastes it, instead.
      clipboard: async () => {
        try {
          return { png: execFileSync('/usr/bin/xclip', ['-selection', 'clipboard', '-t',
            'image/png', '-o']).toString('base64') };
        } catch (e) {
          return { why: `the display's clipboard holds no PNG: ${e.message}` };
        }
      },
      installability: async () => null,
      close: async () => { await driver.quit(); server.kill(); },
    };
  },
};

// The glyph sets, and the cases every engine goes through, in order.
const plain = folderof('plain', (name, from, to) => copyFileSync(from, to));
// Run-length BMPs, as ImageMagick writes them by default for a grey picture.
const runlength = folderof('runlength', (name, from, to) =>
  execFileSync('/usr/bin/convert', [from, '-compress', 'RLE', `BMP3:${to}`]));
const broken = folderof('broken', (name, from, to) =>
  name === 'q.bmp' ? writeFileSync(to, 'not a picture\n') : copyFileSync(from, to));
const some = folderof('some', (name, from, to) => name !== 'q.bmp' && copyFileSync(from, to));
// A q.bmp of 300 KB, past what the program reads, and a file it never reads.
const oversized = folderof('oversized', (name, from, to) =>
  name === 'q.bmp' ? writeFileSync(to, Buffer.alloc(300000, 66)) : copyFileSync(from, to));
writeFileSync(join(oversized, 'notes.txt'), 'not a glyph\n');
// Every glyph mirrored: a picture of its own, so that a set dropped onto
// the page is seen to be used.
const flopped = folderof('flopped', (name, from, to) =>
  execFileSync('/usr/bin/convert', [from, '-flop', `BMP3:${to}`]));

// Each case: the line written with a folder's glyph files (the default set,
// or chosen in the picker, or dropped onto the page); open: first the site
// ("site", its first visit) or the site offline ("offline"); then what is
// checked besides the saved BMP: the PNG, Copy picture, Share.
const cases = [
  { label: 'the typical message', folder: plain, line: typical, png: true, screenshot: true,
    copy: true },
  { label: 'the default set', folder: plain, line: 'Hello, World!', png: true, share: true },
  { label: 'a picture 65,550 pixels tall', folder: plain, line: 'a'.repeat(1310), preview: true,
    answering: true, next: 'Hi.' },
  { label: 'a picture 65,560 pixels wide', folder: plain, line: '.'.repeat(1092), preview: true },
  { label: 'the long message', folder: plain, line: long },
  { label: 'run-length glyphs through the picker', folder: runlength, choose: true,
    line: 'Is it read? Yes.' },
  { label: 'a broken glyph file', folder: broken, choose: true, line: 'Not this one.' },
  { label: 'a set without q.bmp', folder: some, choose: true, line: 'Quiet.',
    says: 'Missing: q.bmp.' },
  { label: 'a q.bmp past the size the program reads', folder: oversized, choose: true,
    line: 'Big q.', says: 'Not used: notes.txt.' },
  { label: 'the 29 glyph files dropped onto the page', folder: flopped, drop: true,
    line: 'Mirrored. All of it?', says: 'your files, 29 of the 29' },
  { label: "the site, on its first visit", open: 'site', folder: plain, line: typical, png: true },
  { label: 'the site offline, the host gone', open: 'offline', folder: plain, line: long },
  { label: 'the site offline, the typical message', folder: plain, line: typical, png: true,
    copy: true, share: true },
];

// write: the line typed into the message field and Enter pressed; waits
// until the run is done, and returns its time, status and what it printed.
async function write(engine, line) {
  await engine.run(([value]) => {
    const field = document.getElementById('message');
    delete document.getElementById('console').dataset.ms;
    field.value = value;
    field.focus();
  }, [line]);
  await engine.press('Enter');
  return waitrun(engine);
}

async function waitrun(engine) {
  for (let waited = 0; waited < ceiling; waited += 50) {
    const done = await engine.run(() => {
      const c = document.getElementById('console');
      return c.dataset.ms ? { ms: Number(c.dataset.ms), status: Number(c.dataset.status),
        text: c.textContent, shown: document.getElementById('picture').dataset.shown,
        said: document.getElementById('status').textContent } : null;
    });
    if (done) return done;
    await pause(50);
  }
  return { ms: NaN, status: -1, text: '', shown: '', said: 'never finished' };
}

// activate: a link or button, reached by keyboard from the message field
// once it is shown (and a link leads to its file), then Enter.
async function activate(engine, id) {
  for (let waited = 0; waited < ceiling; waited += 50) {
    if (await engine.run(([id]) => {
      const a = document.getElementById(id);
      return (a.tagName !== 'A' || a.href) && a.offsetParent !== null;
    }, [id])) break;
    await pause(50);
  }
  await engine.run(() => document.getElementById('message').focus());
  for (let tabs = 0; tabs < 8; tabs++) {
    await engine.press('Tab');
    if (await engine.run(([id]) => document.activeElement.id === id, [id])) break;
  }
  await engine.press('Enter');
}

// save: the picture through its link.
async function save(engine, name) {
  engine.expectdownload(name);
  await activate(engine, name.endsWith('.png') ? 'savepng' : 'save');
  return engine.saved();
}

// handed: the PNG the page handed on, by Copy picture (read back from the
// clipboard) or Share (the share sheet stands recorded in its place):
// { png } in base64, or { why } there is none.
async function handed(engine, how) {
  await engine.run(() => {
    window.handed = null;
    document.getElementById('status').textContent = '';
  });
  await activate(engine, how);
  for (let waited = 0; waited < ceiling; waited += 50) {
    const said = await engine.run(() => document.getElementById('status').textContent);
    if (/could not be/.test(said)) return { why: said };
    if (how === 'share') {
      const got = await engine.run(() => window.handed);
      if (got) return got;
    } else if (/on the clipboard/.test(said)) {
      return engine.clipboard();
    }
    await pause(50);
  }
  return { why: 'nothing handed on' };
}

// pageclipboard: the PNG on the clipboard, as the page reads it back.
const pageclipboard = (engine) => engine.run(() => navigator.clipboard.read().then((items) => {
  const item = items.find((i) => i.types.includes('image/png'));
  return item ? item.getType('image/png').then((blob) => blob.arrayBuffer()).then((b) =>
    ({ png: btoa(Array.from(new Uint8Array(b), (c) => String.fromCharCode(c)).join('')) }))
    : { why: 'no PNG on the clipboard' };
}, (e) => ({ why: `the clipboard cannot be read back: ${e}` })));

// recordshare: the share sheet, as a phone's page has it, recorded: the
// files the page hands it, as base64.
async function recordshare(engine) {
  await engine.run(() => {
    navigator.canShare = (data) => Boolean(data && data.files && data.files.length);
    navigator.share = async ({ files }) => {
      const [file] = files;
      const bytes = new Uint8Array(await file.arrayBuffer());
      window.handed = files.length === 1 && file.name === 'moltravytext.png' &&
        file.type === 'image/png' ? { png: btoa(Array.from(bytes, (c) => String.fromCharCode(c)).join('')) }
        : { why: `${files.length} files, ${file.name}, ${file.type}` };
    };
  });
}

// drop: the folder's files dropped onto the page.
async function drop(engine, folder) {
  const files = readdirSync(folder).map((n) => [n, readFileSync(join(folder, n)).toString('base64')]);
  await engine.run(([files]) => {
    const moved = new DataTransfer();
    for (const [name, base64] of files)
      moved.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
    document.getElementById('drop').dispatchEvent(new DragEvent('drop',
      { dataTransfer: moved, bubbles: true, cancelable: true }));
  }, [files]);
}

async function ready(engine) {
  for (let waited = 0; waited < ceiling && !(await engine.run(() =>
    document.documentElement.dataset.ready)); waited += 50) await pause(50);
}

async function axe(engine, when) {
  await engine.inject(axesource);
  const found = await engine.run(() => axe.run(document).then((r) =>
    r.violations.map((v) => `${v.id} (${v.impact}, ${v.nodes.length})`)));
  check(Array.isArray(found) && found.length === 0,
    `axe-core ${when}: ${Array.isArray(found) && found.length ? found.join(', ') : 'no violation'}`);
}

// seen: what the page now open asked for, as it sees it: every request its
// Content-Security-Policy stopped, and every load.
const seen = (engine) => engine.run(() => [...(window.refused || []),
  ...performance.getEntriesByType('resource').map((e) => e.name)]);

// opensite: the site's first visit, or, with its host gone, its visit
// offline; returns the server, and adds what the page it leaves asked for to
// network.
async function opensite(name, engine, how, site, network) {
  network.push(...await seen(engine));
  const opened = Date.now();
  let said = 'its first visit';
  if (how === 'site') {
    site = await servesite(sitefolder);
    await engine.open(site.url);
    await ready(engine);
    const errors = await engine.installability();
    if (errors)
      check(errors.length === 0, `${name}: the site can be installed (${errors.join(', ') ||
        'no installability error'})`);
    await engine.run(() => navigator.serviceWorker.ready.then(() => true));
  } else {
    await site.stop();
    said = await engine.offline() ? 'offline, its host gone'
      : 'with its host gone (the driver cannot take the network away)';
  }
  // The next visit is the service worker's.
  await engine.open(site.url);
  await ready(engine);
  console.log(`${name}: the site opened, ${said}, in ${Date.now() - opened} ms`);
  check(await engine.run(() => Boolean(navigator.serviceWorker.controller)),
    `${name}: the site's service worker keeps it (${said})`);
  await listen(engine);
  return site;
}

// listen: every request the page's Content-Security-Policy stops, noted.
const listen = (engine) => engine.run(() => {
  window.refused = [];
  document.addEventListener('securitypolicyviolation', (e) => window.refused.push(e.blockedURI));
});

async function checkengine(name) {
  console.log(`-- ${name}`);
  const engine = await launch[name]();
  let site = null;
  const network = [];
  try {
    const opened = Date.now();
    await engine.open(url);
    await ready(engine);
    console.log(`${name}: the page opened from disk in ${Date.now() - opened} ms`);
    await listen(engine);
    await axe(engine, 'at load');
    let earlier = null;
    for (const c of cases) {
      if (c.open) site = await opensite(name, engine, c.open, site, network);
      if (c.share) await recordshare(engine);
      if (c.choose || c.drop) {
        await engine.run(() => {
          const button = document.getElementById('default');
          if (!button.classList.contains('hidden')) button.click();
        });
        if (c.drop) await drop(engine, c.folder);
        else await engine.choose(readdirSync(c.folder).map((n) => join(c.folder, n)));
        let said = '';
        for (let waited = 0; waited < ceiling && !/your files/.test(said); waited += 50) {
          said = await engine.run(() => document.getElementById('glyphset').textContent);
          await pause(50);
        }
        if (c.says) check(said.includes(c.says), `${name}, ${c.label}: the page says "${said}"`);
      }
      // While the run goes on, the page answers: a timer of its own keeps
      // firing, however long the run takes.
      await engine.run(() => {
        window.ticks = 0;
        clearInterval(window.ticker);
        window.ticker = setInterval(() => {
          if (!document.getElementById('console').dataset.ms) window.ticks++;
        }, 20);
      });
      let run;
      if (c.next) {
        // A second line typed at once runs after the first, in order.
        await engine.run(() => {
          window.heights = [];
          new MutationObserver(() => {
            const c = document.getElementById('console');
            if (c.dataset.ms) window.heights.push(c.textContent.match(/Image height: *(\d+)/)[1]);
          }).observe(document.getElementById('console'), { attributeFilter: ['data-ms'] });
        });
        await engine.run(([first, second]) => {
          const field = document.getElementById('message');
          const form = document.getElementById('write');
          delete document.getElementById('console').dataset.ms;
          field.value = first;
          form.requestSubmit();
          field.value = second;
          form.requestSubmit();
        }, [c.line, c.next]);
        run = await waitrun(engine);
        for (let waited = 0; waited < ceiling; waited += 50) {
          if ((await engine.run(() => window.heights.length)) >= 2) break;
          await pause(50);
        }
        const heights = await engine.run(() => window.heights);
        check(heights.join(' ') === `${50 * (c.line.length + 1)} ${50 * (c.next.length + 1)}`,
          `${name}, ${c.label}: a line typed during the run ran after it (heights ${heights.join(', ')})`);
        await engine.run(() => delete document.getElementById('console').dataset.ms);
        run = await write(engine, c.line);
      } else {
        run = await write(engine, c.line);
      }
      const ticks = await engine.run(() => window.ticks);
      if (c.answering)
        check(ticks > 0, `${name}, ${c.label}: the page answered during the run (${ticks} ticks of 20 ms)`);
      const want = nativerun(c.folder, c.line);
      const picture = await save(engine, 'moltravytext.bmp');
      if (!want) {
        check(run.status === 1 && run.text.endsWith('currentletter = NULL\n\n') &&
          picture.equals(earlier),
          `${name}, ${c.label}: refused with the program's line, the earlier picture kept`);
        continue;
      }
      check(run.status === 0 && picture.equals(want),
        `${name}, ${c.label}: the saved BMP is the native program's (${picture.length} bytes, ${run.ms} ms)`);
      if (c.preview)
        check(run.shown === 'preview' && /shown at 1\/\d+ size; the saved file is whole/.test(run.said),
          `${name}, ${c.label}: shown as a preview ("${run.said}")`);
      else
        check(run.shown === 'whole', `${name}, ${c.label}: shown whole`);
      // The PNG, saved, copied and shared: the BMP's pixels each time.
      const bmp = bmpgrey(picture);
      const same = (png) => png && png.width === bmp.width && png.height === bmp.height &&
        png.grey.equals(bmp.grey);
      if (c.png)
        check(same(pnggrey(await save(engine, 'moltravytext.png'))),
          `${name}, ${c.label}: the saved PNG has the BMP's pixels`);
      if (c.screenshot && screenshot && engine.tab)
        await engine.tab.screenshot({ path: screenshot, fullPage: false });
      for (const how of ['copy', 'share'].filter((h) => c[h])) {
        const got = await handed(engine, how);
        check(got.png && same(pnggrey(Buffer.from(got.png, 'base64'))),
          `${name}, ${c.label}: ${how === 'copy' ? 'Copy picture put' : 'Share handed on'} a PNG ` +
          `with the BMP's pixels${got.why ? ` (${got.why})` : ''}`);
      }
      earlier = picture;
    }
    await axe(engine, 'after the runs');
    // A phone, and 200% zoom: nothing wider than the window. WebKitGTK's
    // window keeps a width of its own (about 450 pixels), so there the
    // check is at that width.
    for (const width of [320, 640]) {
      await engine.size(width, 700);
      await pause(200);
      const [wide, sideways] = await engine.run(() => [window.innerWidth,
        document.documentElement.scrollWidth - document.documentElement.clientWidth]);
      check(sideways <= 0, `${name}: ${wide} pixels wide, the page does not scroll sideways`);
    }
    // Nothing asked of anywhere but the page's file and the site's place.
    network.push(...await seen(engine), ...engine.requests());
    const away = network.filter((u) => u !== url && !u.startsWith('blob:') &&
      !(site && u.startsWith(site.url)));
    const served = site ? site.served.filter((p) => !p.startsWith('/moltravytext')) : [];
    check(away.length + served.length === 0, `${name}: no request leaves the page or the site ` +
      `(${[...away, ...served].join(' ') || 'none'})`);
  } finally {
    await engine.close();
    if (site) await site.stop();
  }
}

for (const name of (process.env.ENGINES || 'chromium firefox webkit').split(' ')) {
  if (name === 'webkit' && !process.env.DISPLAY) {
    check(false, 'webkit: no X display (run under xvfb-run)');
    continue;
  }
  await checkengine(name);
}
rmSync(work, { recursive: true, force: true });
process.exit(failed ? 1 : 0);
