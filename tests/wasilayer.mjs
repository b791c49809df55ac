// The browser page's WASI layer (web/wasi.js) as WASI is: each row calls
// the layer's functions as a module would, on a folder held in memory, and
// checks the folder's files after. Run by ctest under Node.
//
// Usage: node tests/wasilayer.mjs
import { readFileSync } from 'node:fs';
import process from 'node:process';

const source = readFileSync(new URL('../web/wasi.js', import.meta.url), 'utf8');
const { makewasi, makefile, filebytes } =
  new Function(`${source}; return { makewasi, makefile, filebytes };`)();

// WASI's numbers the rows use.
const einval = 28;
const ocreat = 1, otrunc = 8, fdappend = 1;
const text = (s) => new TextEncoder().encode(s);

// A module's side of the calls: its memory, a scratch area for names and
// buffers, and each call made with them.
function module(folder) {
  const wasi = makewasi(folder, new Uint8Array());
  const memory = new WebAssembly.Memory({ initial: 1 });
  wasi.start({ exports: { memory, _start() {} } });
  const bytes = new Uint8Array(memory.buffer);
  const view = new DataView(memory.buffer);
  const put = (at, data) => { bytes.set(data, at); return data.length; };
  const call = wasi.imports;
  return {
    open(name, oflags = 0, fdflags = 0) {
      const length = put(0, text(name));
      const errno = call.path_open(3, 0, 0, length, oflags, 0n, 0n, fdflags, 1000);
      return errno === 0 ? view.getUint32(1000, true) : -errno;
    },
    write(fd, data) {
      put(2000, data);
      view.setUint32(100, 2000, true);
      view.setUint32(104, data.length, true);
      return call.fd_write(fd, 100, 1, 108);
    },
    read(fd, length) {
      view.setUint32(100, 2000, true);
      view.setUint32(104, length, true);
      call.fd_read(fd, 100, 1, 108);
      return new TextDecoder().decode(bytes.subarray(2000, 2000 + view.getUint32(108, true)));
    },
    seek(fd, offset, whence) {
      return call.fd_seek(fd, BigInt(offset), whence, 120);
    },
    size(name) {
      const length = put(0, text(name));
      call.path_filestat_get(3, 0, 0, length, 200);
      return Number(view.getBigUint64(232, true));
    },
    rename(from, to) {
      const a = put(0, text(from));
      const b = put(500, text(to));
      return call.path_rename(3, 0, a, 3, 500, b);
    },
  };
}

const content = (folder, name) =>
  folder.has(name) ? new TextDecoder().decode(filebytes(folder.get(name))) : null;

const rows = [
  ['a rename onto itself changes nothing', (m, folder) => {
    const errno = m.rename('a.bmp', 'a.bmp');
    return errno === 0 && content(folder, 'a.bmp') === 'glyph';
  }],
  ['a rename over another file replaces it', (m, folder) => {
    const errno = m.rename('a.bmp', 'b.bmp');
    return errno === 0 && !folder.has('a.bmp') && content(folder, 'b.bmp') === 'glyph';
  }],
  ['whence past 2 is EINVAL', (m) => {
    const fd = m.open('a.bmp');
    return [0, 1, 2].every((w) => m.seek(fd, 0, w) === 0) && m.seek(fd, 0, 3) === einval;
  }],
  ['O_TRUNC leaves no old bytes behind a later seek', (m, folder) => {
    const fd = m.open('a.bmp', otrunc);
    m.seek(fd, 3, 0);
    m.write(fd, text('x'));
    return content(folder, 'a.bmp') === '\0\0\0x';
  }],
  ['O_APPEND appends, wherever the position was', (m, folder) => {
    const fd = m.open('a.bmp', 0, fdappend);
    m.seek(fd, 0, 0);
    m.write(fd, text('!'));
    return content(folder, 'a.bmp') === 'glyph!';
  }],
  ['writes at the end, then one inside, then a read', (m, folder) => {
    const fd = m.open('new.bmp', ocreat);
    for (const piece of ['abc', 'def', 'ghi']) m.write(fd, text(piece));
    m.seek(fd, 2, 0);
    m.write(fd, text('XY'));
    m.seek(fd, 0, 0);
    return content(folder, 'new.bmp') === 'abXYefghi' && m.read(fd, 20) === 'abXYefghi';
  }],
  ['a file given by its size alone: its size, and its first bytes to read', (m) => {
    const fd = m.open('big.bmp');
    return m.size('big.bmp') === 300000 && m.read(fd, 100) === 'BM';
  }],
];

let failed = 0;
for (const [name, row] of rows) {
  const folder = new Map([['a.bmp', makefile(text('glyph'))],
    ['big.bmp', makefile(text('BM'), 300000)]]);
  const ok = row(module(folder), folder);
  console.log(`${ok ? 'pass' : 'FAIL'}: ${name}`);
  if (!ok) failed++;
}
process.exit(failed ? 1 : 0);
