// The page's worker: runs the moltravytext module for one line, and makes
// the PNG of a picture, away from the page's own thread, so that the page
// answers at once however long a run takes. web/buildpage.mjs puts the two
// modules in front of this (modulebase64, pngbase64), and wasi.js (the WASI
// layer) and picture.js (reading the picture, making its PNG) beside it;
// the page starts it from that text.
//
// The page sends, and the worker answers, one message at a time:
//   { kind: 'run', id, line, glyphs: [[name, bytes, size], ...] }
//     -> { kind: 'ran', id, status, output, picture?: Blob, width, height,
//          scale, preview?: { width, height, bitmap (or pixels) } }
//     -> { kind: 'picture', id, picture }   after a preview, the picture
//   { kind: 'grey', id }  ->  { kind: 'grey', id, grey, width, height }
//     the last picture's grey pixels, for its PNG
//   { kind: 'png', id, grey, width, height }  ->  { kind: 'png', id, png }
//   { kind: 'prepare', glyphs }  ->  { kind: 'prepared' }  once the program
//     is compiled and has run once
//   anything that fails, or a message of another kind  ->  { kind: 'failed',
//     id, why }
// A preview and grey pixels move as transferred ImageBitmaps and buffers,
// the picture as a Blob: none is copied on its way to the page, or to the
// worker that makes the PNG. (A Blob made in one worker cannot be read in
// another in every engine: WebKit fails it, so the PNG is made from grey
// pixels the worker that ran the program hands on.)

const frombase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
let program = null; // the compiled modules, each at its first use
let encoder = null;
let last = null; // the last picture: { id, blocks, width, height }

// The longest side of a preview, and the pictures that get one first: those
// with more pixels, or a longer side, than a browser decodes in a moment.
const previewside = 1024;
const previewpixels = 1 << 24;
const previewlongest = 8192;

// prepare: the program compiled, and run once on a line of its own, its
// output and picture thrown away: the engine compiles a module's functions
// as they are first called, so the first line a person types runs as fast
// as the next.
async function prepare({ glyphs }) {
  await runprogram('Hello, World!', glyphs);
  postMessage({ kind: 'prepared' });
}

// runprogram: the program run on line, in a folder of the glyph files
// given; returns its exit status, the WASI layer (for its output) and the
// folder as the program left it.
async function runprogram(line, glyphs) {
  if (!program) program = await WebAssembly.compile(frombase64(modulebase64));
  const folder = new Map(glyphs.map(([n, bytes, size]) => [n, makefile(bytes, size)]));
  const wasi = makewasi(folder, new TextEncoder().encode(line + '\n'));
  const instance = await WebAssembly.instantiate(program,
    { wasi_snapshot_preview1: wasi.imports });
  return { status: wasi.start(instance), wasi, folder };
}

// run: one run of the program on line with the glyph files given.
async function run({ id, line, glyphs }) {
  last = null;
  const started = performance.now();
  const { status, wasi, folder } = await runprogram(line, glyphs);
  const output = wasi.output();
  const stored = folder.get('moltravytext.bmp');
  if (status !== 0 || !stored) {
    postMessage({ kind: 'ran', id, status, output });
    return;
  }
  // The preview first, when there is one, then the whole picture as a
  // Blob for the save link, then the grey pixels for the PNG: all read
  // straight from the blocks the program wrote, never joined.
  const blocks = blocksof(stored);
  folder.clear();
  const { width, height } = bmpsize(blocks);
  const large = width * height > previewpixels || Math.max(width, height) > previewlongest;
  const scale = large ? Math.ceil(Math.max(width, height) / previewside) : 1;
  // How long the program ran and the preview took, for the benchmark.
  const ms = { module: performance.now() - started, preview: 0 };
  const message = { kind: 'ran', id, status, output, width, height, scale, ms };
  if (large) {
    const drawing = performance.now();
    // Drawn into an ImageBitmap here, so that the page only shows it.
    const preview = previewof(blocks, scale);
    const { pixels } = preview;
    if (typeof createImageBitmap === 'function') {
      preview.bitmap = await createImageBitmap(new ImageData(pixels, preview.width, preview.height));
      delete preview.pixels;
    }
    message.preview = preview;
    ms.preview = performance.now() - drawing;
    postMessage(message, [preview.bitmap || pixels.buffer]);
  }
  const picture = new Blob(blocks, { type: 'image/bmp' });
  postMessage(large ? { kind: 'picture', id, picture } : { ...message, picture });
  last = { id, blocks, width, height };
}

// grey: the last picture's grey pixels.
function grey({ id }) {
  if (!last || last.id !== id) return;
  const pixels = greyof(last.blocks);
  postMessage({ kind: 'grey', id, grey: pixels, width: last.width, height: last.height },
    [pixels.buffer]);
}

// png: the PNG of the grey picture, made by the PNG module.
async function png({ id, grey, width, height }) {
  if (!encoder) encoder = await WebAssembly.compile(frombase64(pngbase64));
  const bytes = pngof(encoder, grey, width, height);
  postMessage({ kind: 'png', id, png: new Blob([bytes], { type: 'image/png' }) });
}

// What each kind of message asks for; messages are taken one at a time, in
// order.
const tasks = { run, grey, png, prepare };
let queue = Promise.resolve();
onmessage = (event) => {
  const task = event.data;
  queue = queue.then(() => {
    if (!Object.hasOwn(tasks, task.kind)) throw new Error(`no task ${task.kind}`);
    return tasks[task.kind](task);
  }).catch((error) => postMessage({ kind: 'failed', id: task.id,
    why: String(error && error.message || error) }));
};
