// Reading the picture the program stores, and making its PNG: for the
// page's worker (web/worker.js), and for web/buildpage.mjs, which draws the
// site's icons with the program itself. The BMP is read as its header
// describes it: 24 bits a pixel, rows from the bottom up, from where the
// header says the pixels start, each row padded to a multiple of 4 bytes,
// each pixel's three bytes equal, so that its first is its grey.
//
//   const { width, height } = bmpsize(blocks);
//   const grey = greyof(blocks);          // row 0 (the top) first
//   const png = pngof(pngmodule, grey, width, height);   // the PNG's bytes

// bmphead: the first bytes of the picture, from its blocks (the file as
// the WASI layer holds it: blocksof), as a DataView.
function bmphead(blocks) {
  const head = new Uint8Array(26);
  for (let got = 0, i = 0; got < head.length && i < blocks.length; i++) {
    const n = Math.min(head.length - got, blocks[i].length);
    head.set(blocks[i].subarray(0, n), got);
    got += n;
  }
  return new DataView(head.buffer);
}

// bmpsize: the picture's width and height; where its pixels start, and the
// bytes of each stored row.
function bmpsize(blocks) {
  const head = bmphead(blocks);
  const width = head.getInt32(18, true);
  return { width, height: head.getInt32(22, true), start: head.getUint32(10, true),
    stride: (3 * width + 3) & ~3 };
}

// eachrow: the picture's rows, read straight from its blocks: visit gets
// each row's bytes, in a buffer of its own, and its y (0 the top).
function eachrow(blocks, visit) {
  const { width, height, start, stride } = bmpsize(blocks);
  const row = new Uint8Array(stride);
  let filled = 0;
  let y = height - 1;
  let skip = start;
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
  return width;
}

// greyof: the picture's grey bytes, row 0 (the top) first.
function greyof(blocks) {
  const { width, height } = bmpsize(blocks);
  const grey = new Uint8Array(width * height);
  eachrow(blocks, (row, y) => {
    const to = y * width;
    for (let x = 0; x < width; x++) grey[to + x] = row[3 * x];
  });
  return grey;
}

// previewof: the picture at 1/scale of its size, each pixel the mean of the
// scale by scale square it stands for, as RGBA for a canvas.
function previewof(blocks, scale) {
  const { width, height } = bmpsize(blocks);
  const w = Math.ceil(width / scale);
  const h = Math.ceil(height / scale);
  const sums = new Uint32Array(w * h);
  const counts = new Uint32Array(w * h);
  const column = new Uint32Array(width);
  for (let x = 0; x < width; x++) column[x] = (x / scale) | 0;
  eachrow(blocks, (row, y) => {
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

// pngof: the PNG of a grey picture, made by the PNG maker (the compiled
// web/pngencode.cpp module); its bytes.
function pngof(pngmodule, grey, width, height) {
  let memory = null;
  const instance = new WebAssembly.Instance(pngmodule, {
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
  const png = new Uint8Array(memory.buffer, calls.pngdata(), length).slice();
  calls.pngrelease();
  return png;
}
