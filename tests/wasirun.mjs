// Runs the WebAssembly build of moltravytext as a console program, under
// Node's own WASI: its current folder is the module's folder, standard
// input, output and error are the process's own, and the module's exit
// status is the process's.
//
// Node 20's WASI hands the module its calls as V8 "fast calls", and one of
// them (path_open, with its 64-bit rights) can crash Node once V8 has
// optimised the module's code that calls it: after a long message, the
// picture written whole, Node died with status 139 (nodejs/node#53087).
// Each call goes through a plain JavaScript function here, which V8 never
// turns into a fast call.
//
// Usage: node --no-warnings tests/wasirun.mjs MODULE
import { readFileSync } from 'node:fs';
import { WASI } from 'node:wasi';

// The global process, not node:process: importing that module reads each of
// its exports, process.stdin among them, and making stdin turns a pipe or
// FIFO to non-blocking, so that the module's first read of a line not yet
// written failed with EAGAIN ("No message entered.").

const wasi = new WASI({
  version: 'preview1',
  args: ['moltravytext'],
  env: {},
  preopens: { '.': process.cwd() },
  returnOnExit: true,
});
const module = await WebAssembly.compile(readFileSync(process.argv[2]));
const calls = {};
for (const [name, call] of Object.entries(wasi.getImportObject().wasi_snapshot_preview1))
  calls[name] = (...args) => call(...args);
const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: calls });
process.exitCode = wasi.start(instance);
