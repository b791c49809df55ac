// The browser page's times, for bench/bench.py: the page, moltravytext.html,
// opened from disk in Debian's Chromium (headless, driven by
// playwright-core), then each message written REPS times with the default
// glyph set, from Enter to the picture (or its preview) shown, as the page
// itself measures it. Prints one line of JSON: the time to open the page
// and the median time of each message, in milliseconds.
//
// Usage: node bench/pagetimes.mjs PAGE REPS MESSAGEFILE...
// (run from a folder whose node_modules holds playwright-core, such as
// build-pagecheck/); each message file holds one message, its last newline
// not part of it.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import process from 'node:process';

const require = createRequire(join(process.cwd(), 'node_modules'));
const { chromium } = require('playwright-core');
const [page, reps, ...messages] = process.argv.slice(2);
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});
const tab = await browser.newPage({ viewport: { width: 1000, height: 800 } });
tab.setDefaultTimeout(120000);
const opened = performance.now();
await tab.goto('file://' + resolve(page), { waitUntil: 'load' });
await tab.waitForFunction(() => document.documentElement.dataset.ready);
const times = { open: performance.now() - opened };

// write: the page's own time for one line, from Enter to the picture shown.
async function write(line) {
  await tab.evaluate(() => delete document.getElementById('console').dataset.ms);
  await tab.fill('#message', line);
  await tab.press('#message', 'Enter');
  await tab.waitForFunction(() => document.getElementById('console').dataset.ms);
  return tab.evaluate(() => Number(document.getElementById('console').dataset.ms));
}

for (const file of messages) {
  const line = readFileSync(file, 'utf8').replace(/\n$/, '');
  const runs = [];
  for (let i = 0; i < Number(reps); i++) runs.push(await write(line));
  runs.sort((a, b) => a - b);
  times[file] = runs[Math.floor(runs.length / 2)];
}
await browser.close();
console.log(JSON.stringify(times));
