// The page's worker: runs the moltravytext module for one line, and makes
// the PNG of a picture, away from the page's own thread, so that the page
// answers at once however long a run takes. web/buildpage.mjs puts the two
// modules in front of this (modulebase64, pngbase64) and wasi.js's makewasi
// beside it; the page starts it from that text.
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
//   anything that fails  ->  { kind: 'failed', id, why }
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

// blocksof: a file's bytes as the blocks that hold them, in order.
function blocksof(file) {
  const held = file.size - file.parts.reduce((n, p) => n + p.length, 0);
  return [file.data.subarray(0, held), ...file.parts];
}

// eachrow: the picture's rows, read straight from the BMP's blocks (24 bits
// a pixel, rows from the bottom up, each pixel's three bytes equal, so that
// its first is its grey): visit gets each row's bytes, in a buffer of its
// own, and its y (0 the top).
function eachrow(blocks, width, height, visit) {
  const row = new Uint8Array(width * 3);
  let filled = 0;
  let y = height - 1;
  let skip = 54;
  for (const block of blocks) {
    let at = Math.min(skip, block.length);
    skip -= at;
    while (at < block.length && y >= 0) {
      const n = Math.min(row.length - filled, block.length - at);
      row.set(block.subarray(at, at + n), filled);
      filled += n;
      at += n;
      if (filled === row.length) {
        visit(row, y--);
        filled = 0;
      }
    }
  }
}

// greyof: the picture's grey bytes, row 0 (the top) first.
function greyof(blocks, width, height) {
  const grey = new Uint8Array(width * height);
  eachrow(blocks, width, height, (row, y) => {
    const to = y * width;
    for (let x = 0; x < width; x++) grey[to + x] = row[3 * x];
  });
  return grey;
}

// previewof: the picture at 1/scale of its size, each pixel the mean of the
// scale by scale square it stands for, as RGBA for a canvas.
function previewof(blocks, width, height, scale) {
  const w = Math.ceil(width / scale);
  const h = Math.ceil(height / scale);
  const sums = new Uint32Array(w * h);
  const counts = new Uint32Array(w * h);
  const column = new Uint32Array(width);
  for (let x = 0; x < width; x++) column[x] = (x / scale) | 0;
  eachrow(blocks, width, height, (row, y) => {
    const at = ((y / scale) | 0) * w;
    for (let x = 0; x < width; x++) {
      sums[at + column[x]] += row[3 * x];
      counts[at + column[x]]++;
    }
  });
  const pixels = new Uint8ClampedArray(w * h * 4);
  for (let i = 0; i < w * h; i++) {
    pixels[4 * i] = pixels[4 * i + 1] = pixels[4 * i + 2] = Math.round(sums[i] / counts[i]);
    pixels[4 * i + 3] = 255;
  }
  return { width: w, height: h, pixels };
}

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
  const head = new Uint8Array(26);
  for (let got = 0, i = 0; got < head.length && i < blocks.length; i++) {
    const n = Math.min(head.length - got, blocks[i].length);
    head.set(blocks[i].subarray(0, n), got);
    got += n;
  }
  const header = new DataView(head.buffer);
  const width = header.getInt32(18, true);
  const height = header.getInt32(22, true);
  const large = width * height > previewpixels || Math.max(width, height) > previewlongest;
  const scale = large ? Math.ceil(Math.max(width, height) / previewside) : 1;
  // How long the program ran and the preview took, for the benchmark.
  const ms = { module: performance.now() - started, preview: 0 };
  const message = { kind: 'ran', id, status, output, width, height, scale, ms };
  if (large) {
    const drawing = performance.now();
    // Drawn into an ImageBitmap here, so that the page only shows it.
    const preview = previewof(blocks, width, height, scale);
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
  const pixels = greyof(last.blocks, last.width, last.height);
  postMessage({ kind: 'grey', id, grey: pixels, width: last.width, height: last.height },
    [pixels.buffer]);
}

// png: the PNG of the grey picture, made by the PNG module.
async function png({ id, grey, width, height }) {
  if (!encoder) encoder = await WebAssembly.compile(frombase64(pngbase64));
  let memory = null;
  const instance = await WebAssembly.instantiate(encoder, {
    wasi_snapshot_preview1: {
      random_get(at, length) {
        crypto.getRandomValues(new Uint8Array(memory.buffer, at, length));
        return 0;
      },
    },
  });
  const calls = instance.exports;
  memory = calls.memory;
  calls._initialize();
  const at = calls.pngbuffer(grey.length);
  if (at === 0) throw new Error('not enough memory for the PNG');
  new Uint8Array(memory.buffer, at, grey.length).set(grey);
  const length = calls.pngencode(at, width, height);
  if (length === 0) throw new Error('not enough memory for the PNG');
  const bytes = new Uint8Array(memory.buffer, calls.pngdata(), length);
  postMessage({ kind: 'png', id, png: new Blob([bytes], { type: 'image/png' }) });
  calls.pngrelease();
}

// Messages are taken one at a time, in order.
let queue = Promise.resolve();
onmessage = (event) => {
  const task = event.data;
  queue = queue.then(() => (task.kind === 'run' ? run(task)
    : task.kind === 'png' ? png(task) : task.kind === 'grey' ? grey(task)
      : prepare(task)))
    .catch((error) => postMessage({ kind: 'failed', id: task.id, task: task.kind,
      why: String(error && error.message || error) }));
};
