// Runs the WebAssembly build of moltravytext as a console program, under
// Node's own WASI: its current folder is the module's folder, standard
// input, output and error are the process's own, and the module's exit
// status is the process's.
//
// Usage: node --no-warnings tests/wasirun.mjs MODULE
import { readFileSync } from 'node:fs';
import process from 'node:process';
import { WASI } from 'node:wasi';

const wasi = new WASI({
  version: 'preview1',
  args: ['moltravytext'],
  env: {},
  preopens: { '.': process.cwd() },
  returnOnExit: true,
});
const module = await WebAssembly.compile(readFileSync(process.argv[2]));
const instance = await WebAssembly.instantiate(module, wasi.getImportObject());
process.exitCode = wasi.start(instance);
