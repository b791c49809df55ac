// The WASI calls moltravytext makes, for a browser page: one folder held in
// memory (a Map from file name to file), standard input from bytes given,
// standard output and error gathered. The module asks for nothing else:
// web/buildpage.mjs refuses a module that imports any other call.
//
//   const folder = new Map([['a.bmp', makefile(bytes)], ...]);
//   const wasi = makewasi(folder, stdinbytes);
//   const instance = await WebAssembly.instantiate(module,
//       { wasi_snapshot_preview1: wasi.imports });
//   const status = wasi.start(instance);   // the exit status
//   wasi.output()                          // what it wrote, as text
//   filebytes(folder.get('moltravytext.bmp'))   // a file's bytes
//   blocksof(folder.get('moltravytext.bmp'))    // the same, as its blocks
//
// A file is { data, size, parts }: its first bytes in one block, data (which
// may be longer than they are), and the rest as a list of blocks, parts, as
// writes at its end left them: a picture of 179 MB is written in 64 KiB
// pieces, each copied once out of the module's memory, and joined once, when
// it is read (filebytes), never grown and copied again piece by piece. A file
// given by size alone, its first bytes in data, is one the program refuses
// by its size before reading it.

// WASI's error numbers, file types and flags.
const success = 0, ebadf = 8, eexist = 20, einval = 28,
  eisdir = 31, enoent = 44, enotdir = 54, espipe = 70;
const chardevice = 2, directory = 3, regularfile = 4;
const ocreat = 1, odirectory = 2, oexcl = 4, otrunc = 8;
const fdappend = 1;
const preopen = 3;

// makefile: a file holding bytes; size, when given, is its size, and bytes
// only its first ones.
function makefile(bytes, size = bytes.length) {
  return { data: bytes, size, parts: [] };
}

// joined: file with its parts joined into data, and data at least length
// bytes long (zeros after the file's end); returns the file.
function joined(file, length = 0) {
  const held = file.size - file.parts.reduce((n, p) => n + p.length, 0);
  if (file.parts.length || length > file.data.length) {
    const all = new Uint8Array(Math.max(file.size, length));
    all.set(file.data.subarray(0, held));
    let at = held;
    for (const part of file.parts) {
      all.set(part, at);
      at += part.length;
    }
    file.data = all;
    file.parts = [];
  }
  return file;
}

// blocksof: a file's bytes as the blocks that hold them, in order.
function blocksof(file) {
  const held = file.size - file.parts.reduce((n, p) => n + p.length, 0);
  return [file.data.subarray(0, held), ...file.parts];
}

// filebytes: a file's bytes, in one block.
function filebytes(file) {
  return joined(file).data.subarray(0, Math.min(file.size, file.data.length));
}

function makewasi(folder, stdin) {
  let memory = null;
  let stdinat = 0;
  const output = [];
  // Open descriptors past the three streams and the folder: { name, file,
  // at, append }, or { dir: true }.
  const open = new Map();
  let nextfd = preopen + 1;

  const view = () => new DataView(memory.buffer);
  const bytes = () => new Uint8Array(memory.buffer);
  const text = (at, length) =>
    new TextDecoder().decode(bytes().subarray(at, at + length));
  // A name in the folder: "a.bmp", "./a.bmp"; "." or "" is the folder.
  const name = (at, length) => text(at, length).replace(/^(\.\/)+/, '');
  const isfolder = (n) => n === '.' || n === '';

  // iovecs: each { buf, len } pair of count at address at.
  function iovecs(at, count) {
    const list = [];
    for (let i = 0; i < count; i++)
      list.push([view().getUint32(at + 8 * i, true),
        view().getUint32(at + 8 * i + 4, true)]);
    return list;
  }

  function filestat(at, type, size) {
    bytes().fill(0, at, at + 64);
    view().setUint8(at + 16, type);
    view().setBigUint64(at + 24, 1n, true);
    view().setBigUint64(at + 32, BigInt(size), true);
  }

  // writefile: len bytes of memory at buf into the open file entry, at its
  // position (or its end, when it appends).
  function writefile(entry, buf, len) {
    const file = entry.file;
    if (entry.append) entry.at = file.size;
    if (entry.at === file.size) {
      file.parts.push(bytes().slice(buf, buf + len));
    } else {
      joined(file, entry.at + len).data.set(bytes().subarray(buf, buf + len),
        entry.at);
    }
    entry.at += len;
    file.size = Math.max(file.size, entry.at);
  }

  const imports = {
    fd_prestat_get(fd, at) {
      if (fd !== preopen) return ebadf;
      view().setUint8(at, 0);
      view().setUint32(at + 4, 1, true);
      return success;
    },
    fd_prestat_dir_name(fd, at, length) {
      if (fd !== preopen) return ebadf;
      if (length >= 1) bytes()[at] = 46; // "."
      return success;
    },
    fd_fdstat_get(fd, at) {
      const entry = open.get(fd);
      if (fd > preopen && !entry) return ebadf;
      bytes().fill(0, at, at + 24);
      const type = fd < preopen ? chardevice
        : fd === preopen || entry.dir ? directory : regularfile;
      view().setUint8(at, type);
      if (entry && entry.append) view().setUint16(at + 2, fdappend, true);
      view().setBigUint64(at + 8, 0xffffffffffffffffn, true);
      view().setBigUint64(at + 16, 0xffffffffffffffffn, true);
      return success;
    },
    fd_filestat_get(fd, at) {
      const entry = open.get(fd);
      if (fd < preopen) filestat(at, chardevice, 0);
      else if (fd === preopen || (entry && entry.dir)) filestat(at, directory, 0);
      else if (entry) filestat(at, regularfile, entry.file.size);
      else return ebadf;
      return success;
    },
    path_filestat_get(fd, flags, pathat, pathlength, at) {
      const n = name(pathat, pathlength);
      if (isfolder(n)) filestat(at, directory, 0);
      else if (folder.has(n)) filestat(at, regularfile, folder.get(n).size);
      else return enoent;
      return success;
    },
    path_open(fd, dirflags, pathat, pathlength, oflags, rightsbase,
      rightsinheriting, fdflags, fdat) {
      const n = name(pathat, pathlength);
      if (isfolder(n)) {
        if (oflags & (ocreat | otrunc)) return eisdir;
        open.set(nextfd, { dir: true });
      } else {
        if (n.includes('/')) return enoent;
        if (oflags & odirectory) return folder.has(n) ? enotdir : enoent;
        let file = folder.get(n);
        if (file && (oflags & ocreat) && (oflags & oexcl)) return eexist;
        if (!file && !(oflags & ocreat)) return enoent;
        if (!file) {
          file = makefile(new Uint8Array(0));
          folder.set(n, file);
        }
        // Truncated, nothing of the old bytes is left, even past a seek.
        if (oflags & otrunc) Object.assign(file, makefile(new Uint8Array(0)));
        open.set(nextfd, { name: n, file, at: 0, append: (fdflags & fdappend) !== 0 });
      }
      view().setUint32(fdat, nextfd++, true);
      return success;
    },
    fd_read(fd, iovsat, iovscount, nreadat) {
      const entry = open.get(fd);
      if (fd !== 0 && !(entry && !entry.dir)) return ebadf;
      const source = fd === 0 ? stdin : filebytes(entry.file);
      let at = fd === 0 ? stdinat : entry.at;
      let read = 0;
      for (const [buf, len] of iovecs(iovsat, iovscount)) {
        const n = Math.max(0, Math.min(len, source.length - at));
        bytes().set(source.subarray(at, at + n), buf);
        at += n;
        read += n;
        if (n < len) break;
      }
      if (fd === 0) stdinat = at; else entry.at = at;
      view().setUint32(nreadat, read, true);
      return success;
    },
    fd_write(fd, iovsat, iovscount, nwrittenat) {
      const entry = open.get(fd);
      if (fd !== 1 && fd !== 2 && !(entry && !entry.dir)) return ebadf;
      let written = 0;
      for (const [buf, len] of iovecs(iovsat, iovscount)) {
        if (fd === 1 || fd === 2) output.push(bytes().slice(buf, buf + len));
        else writefile(entry, buf, len);
        written += len;
      }
      view().setUint32(nwrittenat, written, true);
      return success;
    },
    fd_seek(fd, offset, whence, newat) {
      const entry = open.get(fd);
      if (fd <= preopen || !entry || entry.dir) return fd < preopen ? espipe : ebadf;
      if (whence > 2) return einval;
      const base = whence === 0 ? 0 : whence === 1 ? entry.at : entry.file.size;
      const at = base + Number(offset);
      if (at < 0) return einval;
      entry.at = at;
      view().setBigUint64(newat, BigInt(at), true);
      return success;
    },
    // Memory is as safe as it gets: nothing to flush.
    fd_sync(fd) {
      return fd === preopen || open.has(fd) ? success : ebadf;
    },
    fd_close(fd) {
      if (!open.delete(fd)) return ebadf;
      return success;
    },
    path_rename(fd, oldat, oldlength, newfd, newat, newlength) {
      const from = name(oldat, oldlength);
      const to = name(newat, newlength);
      if (!folder.has(from)) return enoent;
      if (isfolder(to)) return eisdir;
      // Onto itself, as POSIX says, it changes nothing.
      if (from === to) return success;
      folder.set(to, folder.get(from));
      folder.delete(from);
      return success;
    },
    path_unlink_file(fd, pathat, pathlength) {
      const n = name(pathat, pathlength);
      if (isfolder(n)) return eisdir;
      return folder.delete(n) ? success : enoent;
    },
    // No file here is a link.
    path_readlink() {
      return einval;
    },
    random_get(at, length) {
      crypto.getRandomValues(bytes().subarray(at, at + length));
      return success;
    },
    // The run ends here: the module's stack unwinds to start.
    proc_exit(code) {
      throw { exitcode: code };
    },
  };

  return {
    imports,
    // start: runs the module to its end; returns its exit status.
    start(instance) {
      memory = instance.exports.memory;
      try {
        instance.exports._start();
        return 0;
      } catch (e) {
        if (e && e.exitcode !== undefined) return e.exitcode;
        throw e;
      }
    },
    output() {
      const all = new Uint8Array(output.reduce((n, c) => n + c.length, 0));
      let at = 0;
      for (const c of output) { all.set(c, at); at += c.length; }
      return new TextDecoder().decode(all);
    },
  };
}
