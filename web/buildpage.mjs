// Builds the browser page, moltravytext.html: one self-contained page
// holding the WebAssembly module, the PNG maker's module, the default glyph
// set, the WASI calls (wasi.js), the picture's reading (picture.js), the
// worker that runs them (worker.js) and the page's script (page.js),
// inlined into page.html, with a Content-Security-Policy that lets only
// that script, its worker (started from a blob: URL) and that style run,
// and forbids every network request.
//
// With SITEFOLDER, it also builds the site: the same page as index.html,
// with a web app manifest, icons the program itself draws (its picture of
// "m", from the default glyph set), and a service worker (sw.js) that keeps
// the site for use offline; its Content-Security-Policy lets it ask for
// those files of its own origin and nothing else. Any static web server
// serves the folder, at its root or under a path of its own.
//
// What the page must know of the program it takes from the program's
// source: the glyph files it reads and their order (src/glyphs/glyphs.cpp),
// the largest it reads, its prompt (src/main.cpp) and its version
// (CMakeLists.txt). The same inputs give the same bytes.
//
// Usage: node web/buildpage.mjs MODULE PNGMODULE GLYPHFOLDER OUT.html
//            [SITEFOLDER]
// (PNGMODULE: the PNG maker, web/pngencode.cpp as the WASI build makes it)
import { createHash } from 'node:crypto';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import process from 'node:process';

const [modulepath, pngpath, glyphfolder, out, sitefolder] = process.argv.slice(2);
const here = dirname(new URL(import.meta.url).pathname);
const read = (name) => readFileSync(join(here, name), 'utf8');
const fail = (why) => {
  console.error(`buildpage: ${why}`);
  process.exit(1);
};

// The program's own facts.
const source = (name) => read(join('..', name));
const glyphsource = source('src/glyphs/glyphs.cpp');
const glyphnames = [...glyphsource.matchAll(/\{"([^"]+\.bmp)", '.'\}/g)].map((m) => m[1]);
const limit = glyphsource.match(/glyphfilelimit = (\d+) << (\d+);/);
const prompt = source('src/main.cpp').match(/printf\("\(%d character maximum\)\\n([^"]*)"/);
const version = source('CMakeLists.txt').match(/project\(moltravytext VERSION ([0-9.]+)/);
if (glyphnames.length !== 29 || !limit || !prompt || !version)
  fail('the glyph table, the file limit, the prompt or the version is not where it was');

// Each module may ask only for the calls the worker answers.
const module = readFileSync(modulepath);
const pngmodule = readFileSync(pngpath);
const wasi = read('wasi.js');
const picture = read('picture.js');
const lib = new Function(`${wasi}\n${picture}\n` +
  'return { makewasi, makefile, blocksof, bmpsize, greyof, pngof };')();
const answered = Object.keys(lib.makewasi(new Map(), new Uint8Array()).imports);
const program = new WebAssembly.Module(module);
const encoder = new WebAssembly.Module(pngmodule);
for (const wanted of WebAssembly.Module.imports(program))
  if (wanted.module !== 'wasi_snapshot_preview1' || !answered.includes(wanted.name))
    fail(`the module asks for ${wanted.module}.${wanted.name}, which wasi.js lacks`);
for (const wanted of WebAssembly.Module.imports(encoder))
  if (wanted.module !== 'wasi_snapshot_preview1' || wanted.name !== 'random_get')
    fail(`the PNG maker asks for ${wanted.module}.${wanted.name}, which picture.js lacks`);

const glyphs = new Map(glyphnames.map((n) => [n, readFileSync(join(glyphfolder, n))]));
const worker = `const modulebase64 = "${module.toString('base64')}";\n` +
  `const pngbase64 = "${pngmodule.toString('base64')}";\n\n` +
  `${wasi}\n${picture}\n${read('worker.js')}`;
const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;

// page: the page, for the site or not.
function page(site) {
  const script = `const glyphnames = ${JSON.stringify(glyphnames)};\n` +
    `const glyphlimit = ${limit[1]} << ${limit[2]};\n` +
    `const promptline = ${JSON.stringify(prompt[1])};\n` +
    `const site = ${site};\n` +
    `const workersource = ${JSON.stringify(worker)};\n` +
    `const defaultglyphs = {\n${[...glyphs].map(([n, bytes]) =>
      `  ${JSON.stringify(n)}: "${bytes.toString('base64')}",`).join('\n')}\n};\n\n` +
    read('page.js');
  let html = read('page.html').split('/*PAGE*/').join(script);
  const style = html.match(/<style>([\s\S]*?)<\/style>/)[1];
  const own = site ? "'self' " : '';
  const csp = `default-src 'none'; script-src ${hash(script)} 'wasm-unsafe-eval'; ` +
    `worker-src ${own}blob:; style-src ${hash(style)}; img-src ${own}blob:; ` +
    `${site ? "manifest-src 'self'; " : ''}base-uri 'none'; form-action 'none'`;
  const head = site ? ['<link rel="manifest" href="manifest.webmanifest">',
    '<link rel="icon" href="icon-192.png" sizes="192x192" type="image/png">',
    '<link rel="apple-touch-icon" href="apple-touch-icon.png">',
    `<meta name="theme-color" content="${theme}">`].join('\n') : '';
  return html.split('{{CSP}}').join(csp).split('<!--SITE-->').join(head);
}

const theme = '#ffffff';
writeFileSync(out, page(false));
if (sitefolder) {
  // The icons: the middle three quarters of the program's picture of "m",
  // scaled to the nearest pixel and centred on white, filling the icon, or
  // for a maskable icon inside the circle a launcher may cut it to (of 80%
  // of the icon's width).
  const folder = new Map(glyphnames.map((n) => [n, lib.makefile(glyphs.get(n))]));
  const run = lib.makewasi(folder, new TextEncoder().encode('m\n'));
  const status = run.start(new WebAssembly.Instance(program,
    { wasi_snapshot_preview1: run.imports }));
  if (status !== 0 || !folder.has('moltravytext.bmp')) fail('the program drew no icon');
  const blocks = lib.blocksof(folder.get('moltravytext.bmp'));
  const { width, height } = lib.bmpsize(blocks);
  const grey = lib.greyof(blocks);
  const left = Math.round(width / 8);
  const top = Math.round(height / 8);
  const icon = (size, part) => {
    const inner = Math.round(size * part);
    const off = (size - inner) >> 1;
    const pixels = new Uint8Array(size * size).fill(255);
    for (let y = 0; y < inner; y++)
      for (let x = 0; x < inner; x++)
        pixels[(off + y) * size + off + x] = grey[(top + Math.floor(y * (height - 2 * top) /
          inner)) * width + left + Math.floor(x * (width - 2 * left) / inner)];
    return lib.pngof(encoder, pixels, size, size);
  };
  const files = new Map([
    ['index.html', page(true)],
    ['icon-192.png', icon(192, 1)],
    ['icon-512.png', icon(512, 1)],
    ['icon-maskable.png', icon(512, 0.56)],
    ['apple-touch-icon.png', icon(180, 1)],
  ]);
  const icons = [['icon-192.png', '192x192', 'any'], ['icon-512.png', '512x512', 'any'],
    ['icon-maskable.png', '512x512', 'maskable']];
  files.set('manifest.webmanifest', JSON.stringify({
    id: './',
    name: 'moltravytext',
    short_name: 'moltravytext',
    description: 'Writes a line of text in the moltravy glyph script.',
    lang: 'en',
    start_url: './',
    scope: './',
    display: 'standalone',
    background_color: '#ffffff',
    theme_color: theme,
    icons: icons.map(([src, sizes, purpose]) => ({ src, sizes, type: 'image/png', purpose })),
  }, null, 2) + '\n');
  // The version: the program's, and a digest of every file the site keeps.
  const digest = createHash('sha256');
  for (const [name, data] of files) digest.update(name).update(data);
  const kept = ['./', ...files.keys()];
  files.set('sw.js', `const version = '${version[1]}-${digest.digest('hex').slice(0, 16)}';\n` +
    `const files = ${JSON.stringify(kept)};\n\n${read('sw.js')}`);
  mkdirSync(sitefolder, { recursive: true });
  for (const [name, data] of files) writeFileSync(join(sitefolder, name), data);
}
