// Checks the browser page, moltravytext.html, as people meet it, in each
// browser engine: Chromium (Debian's, driven by playwright-core), Firefox
// ESR (Debian's, over WebDriver BiDi, by puppeteer-core) and WebKit, the
// engine of Safari (Debian's WebKitGTK, its MiniBrowser driven by
// WebKitWebDriver with selenium-webdriver; it needs an X display, so run
// this under xvfb-run). In each, by keyboard, the same table of cases: a
// line written with a glyph set, its picture saved through the page's links
// (the BMP the native program's bytes for the same line and glyph files,
// the PNG exactly its pixels), a picture too tall or too wide for a browser
// shown as a preview while the page goes on answering, lines typed during a
// run run after it in order, a refused set showing the program's line and
// keeping the earlier picture. Then: no network request; axe-core finds no
// accessibility fault, at load and after a run; at 320 pixels (a phone) and
// at 200% zoom nothing scrolls sideways. Times are shown, never judged: how
// fast the page is, against the native program, is the benchmark's
// (bench/pagetimes.mjs); a step fails here only past a ceiling that a hang
// alone reaches.
//
// Usage: node tests/pagecheck.mjs PAGE NATIVEPROGRAM GLYPHFOLDER [SCREENSHOT]
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

const require = createRequire(join(process.cwd(), 'node_modules'));
const [page, native, defaults, screenshot] = process.argv.slice(2).map((p) => p && resolve(p));
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
// the program's BMP (24 bits, bottom-up, three equal bytes a pixel) and a
// grey 8-bit PNG (its rows unfiltered here, as PNG defines the filters).
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
  const data = [];
  while (at < png.length) {
    const length = png.readUInt32BE(at);
    const type = png.toString('latin1', at + 4, at + 8);
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[9] !== 0) return null; // grey, 8 bits only
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
  const grey = Buffer.alloc(width * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (width + 1)];
    for (let x = 0; x < width; x++) {
      const v = raw[y * (width + 1) + 1 + x];
      const a = x ? grey[y * width + x - 1] : 0;
      const b = y ? grey[(y - 1) * width + x] : 0;
      const c = x && y ? grey[(y - 1) * width + x - 1] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c)
        ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      const predictor = [0, a, b, (a + b) >> 1, paeth][filter];
      grey[y * width + x] = (v + predictor) & 255;
    }
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

// Each engine, behind the same few steps: open the page; run a script in
// it; press a key on the focused element; choose files in the picker;
// size the window; take the download the last key started.
const launch = {
  async chromium() {
    const { chromium } = require('playwright-core');
    const browser = await chromium.launch({
      executablePath: '/usr/bin/chromium',
      args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--no-first-run'],
    });
    const context = await browser.newContext({ acceptDownloads: true,
      viewport: { width: 1000, height: 800 } });
    const tab = await context.newPage();
    tab.setDefaultTimeout(ceiling);
    const requests = [];
    tab.on('request', (r) => requests.push(r.url()));
    let download = null;
    tab.on('download', (d) => { download = d; });
    return {
      tab,
      requests: () => requests.filter((u) => u !== url && !u.startsWith('blob:')),
      open: () => tab.goto(url),
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
      close: () => browser.close(),
    };
  },

  async firefox() {
    const puppeteer = require('puppeteer-core');
    const downloads = mkdtempSync(join(work, 'firefox-'));
    const browser = await puppeteer.launch({
      browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true,
      defaultViewport: { width: 1000, height: 800 },
      extraPrefsFirefox: {
        'browser.download.dir': downloads, 'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.helperApps.neverAsk.saveToDisk': 'image/bmp,image/png',
      },
    });
    const tab = await browser.newPage();
    tab.setDefaultTimeout(ceiling);
    const requests = [];
    tab.on('request', (r) => requests.push(r.url()));
    let expected = '';
    return {
      requests: () => requests.filter((u) => u !== url && !u.startsWith('blob:')),
      open: () => tab.goto(url),
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
      // WebDriver classic sees no requests: the CSP's reports stand in.
      requests: () => [],
      open: () => driver.get(url),
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

const cases = [
  { label: 'the default set', folder: plain, line: 'Hello, World!', png: true },
  { label: 'the typical message', folder: plain, line: typical, png: true, screenshot: true },
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

// save: the picture through its link, reached by keyboard from the message
// field, once the link leads to its file.
async function save(engine, name) {
  const link = name.endsWith('.png') ? 'savepng' : 'save';
  for (let waited = 0; waited < ceiling; waited += 50) {
    if (await engine.run(([id]) => {
      const a = document.getElementById(id);
      return a.href && a.offsetParent !== null;
    }, [link])) break;
    await pause(50);
  }
  await engine.run(() => document.getElementById('message').focus());
  for (let tabs = 0; tabs < 8; tabs++) {
    await engine.press('Tab');
    if (await engine.run(([id]) => document.activeElement.id === id, [link])) break;
  }
  engine.expectdownload(name);
  await engine.press('Enter');
  return engine.saved();
}

async function axe(engine, when) {
  await engine.inject(axesource);
  const found = await engine.run(() => axe.run(document).then((r) =>
    r.violations.map((v) => `${v.id} (${v.impact}, ${v.nodes.length})`)));
  check(Array.isArray(found) && found.length === 0,
    `axe-core ${when}: ${Array.isArray(found) && found.length ? found.join(', ') : 'no violation'}`);
}

async function checkengine(name) {
  console.log(`-- ${name}`);
  const engine = await launch[name]();
  try {
    const opened = Date.now();
    await engine.open();
    for (let waited = 0; waited < ceiling && !(await engine.run(() =>
      document.documentElement.dataset.ready)); waited += 50) await pause(50);
    console.log(`${name}: the page opened from disk in ${Date.now() - opened} ms`);
    // Every request the CSP stops, and every load, as the page sees them.
    await engine.run(() => {
      window.refused = [];
      document.addEventListener('securitypolicyviolation', (e) => window.refused.push(e.blockedURI));
    });
    await axe(engine, 'at load');
    let earlier = null;
    for (const c of cases) {
      if (c.choose) {
        await engine.run(() => {
          const button = document.getElementById('default');
          if (!button.classList.contains('hidden')) button.click();
        });
        await engine.choose(readdirSync(c.folder).map((n) => join(c.folder, n)));
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
      if (c.png) {
        const png = pnggrey(await save(engine, 'moltravytext.png'));
        const bmp = bmpgrey(picture);
        check(png && png.width === bmp.width && png.height === bmp.height &&
          png.grey.equals(bmp.grey), `${name}, ${c.label}: the saved PNG has the BMP's pixels`);
      }
      earlier = picture;
      if (c.screenshot && screenshot && engine.tab)
        await engine.tab.screenshot({ path: screenshot, fullPage: false });
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
    const refused = await engine.run(() => window.refused);
    const loads = await engine.run(() => performance.getEntriesByType('resource')
      .map((e) => e.name).filter((u) => !u.startsWith('blob:')));
    const network = [...engine.requests(), ...refused, ...loads];
    check(network.length === 0, `${name}: no network request (${network.join(' ') || 'none'})`);
  } finally {
    await engine.close();
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
