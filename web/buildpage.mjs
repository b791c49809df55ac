// Builds moltravytext.html: one self-contained page holding the WebAssembly
// module, the PNG maker's module, the default glyph set, the WASI calls
// (wasi.js), the worker that runs them (worker.js) and the page's script
// (page.js), inlined into page.html, with a Content-Security-Policy that
// lets only that script, its worker (started from a blob: URL) and that
// style run, and forbids every network request. The same inputs give the
// same bytes.
//
// Usage: node web/buildpage.mjs MODULE PNGMODULE GLYPHFOLDER OUT.html
// (PNGMODULE: the PNG maker, web/pngencode.cpp as the WASI build makes it)
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import process from 'node:process';

const [modulepath, pngpath, glyphfolder, out] = process.argv.slice(2);
const here = dirname(new URL(import.meta.url).pathname);
const read = (name) => readFileSync(join(here, name), 'utf8');
const fail = (why) => {
  console.error(`buildpage: ${why}`);
  process.exit(1);
};

// Each module may ask only for the calls the worker answers.
const module = readFileSync(modulepath);
const pngmodule = readFileSync(pngpath);
const wasi = read('wasi.js');
const answered = Object.keys(
  new Function(`${wasi}; return makewasi;`)()(new Map(), new Uint8Array()).imports);
const asked = (bytes) => WebAssembly.Module.imports(new WebAssembly.Module(bytes));
for (const wanted of asked(module))
  if (wanted.module !== 'wasi_snapshot_preview1' || !answered.includes(wanted.name))
    fail(`the module asks for ${wanted.module}.${wanted.name}, which wasi.js lacks`);
for (const wanted of asked(pngmodule))
  if (wanted.module !== 'wasi_snapshot_preview1' || wanted.name !== 'random_get')
    fail(`the PNG maker asks for ${wanted.module}.${wanted.name}, which worker.js lacks`);

const worker = `const modulebase64 = "${module.toString('base64')}";\n` +
  `const pngbase64 = "${pngmodule.toString('base64')}";\n\n` +
  `${wasi}\n${read('worker.js')}`;
const names = [...'abcdefghijklmnopqrstuvwxyz'].map((c) => c + '.bmp')
  .concat(['_.bmp', '_period.bmp', '_question.bmp']);
const glyphs = names.map((n) =>
  `  ${JSON.stringify(n)}: "${readFileSync(join(glyphfolder, n)).toString('base64')}",`);
const page = `const workersource = ${JSON.stringify(worker)};\n` +
  `const defaultglyphs = {\n${glyphs.join('\n')}\n};\n\n${read('page.js')}`;

let html = read('page.html');
html = html.split('/*PAGE*/').join(page);
const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;
const style = html.match(/<style>([\s\S]*?)<\/style>/)[1];
const csp = `default-src 'none'; script-src ${hash(page)} 'wasm-unsafe-eval'; ` +
  `worker-src blob:; style-src ${hash(style)}; img-src blob:; ` +
  `base-uri 'none'; form-action 'none'`;
html = html.split('{{CSP}}').join(csp);
writeFileSync(out, html);
