// Time to the first tip of an HTML page in headless Chromium: from the
// start of loading, the pointer is moved onto a point again and again
// until the page shows that point's tip. The point is the last marker of
// the same map written as SVG (drawn last, so on top where it lies).
// Prints "first_tip_ms N load_ms N tip TEXT" for the median of RUNS loads.
// Usage: node html_first_tip.mjs PAGE.html MAP.svg [RUNS]
import { createRequire } from 'node:module';
import path from 'node:path';
import { svgMarks } from '../tests/browser/svg_marks.mjs';

const require = createRequire(path.join(process.env.QV_NODE_MODULES, 'resolve-from-here.js'));
const { chromium } = require('playwright-core');

const [pageFile, svgFile, runsArg] = process.argv.slice(2);
const runs = Number(runsArg || 3);
const marks = svgMarks(svgFile, 'marker');
const target = marks[marks.length - 1];
if (!target) {
  console.log(`no marker in ${svgFile}`);
  process.exit(1);
}
const want = target.tip.split('\n')[0];

const browser = await chromium.launch({
  executablePath: process.env.QV_CHROMIUM,
  headless: true,
  args: ['--no-sandbox'],
});
const url = `file://${path.resolve(pageFile)}`;
const shown = () => {
  const box = document.querySelector('.qv-tip');
  return box && !box.hidden ? box.textContent : null;
};
// Where the map's viewBox begins on the page (an untimed load).
let origin;
{
  const page = await browser.newPage({ viewport: { width: 1400, height: 1100 } });
  await page.goto(url);
  origin = await page.evaluate(() => {
    const b = document.querySelector('svg').getBoundingClientRect();
    return { x: b.left, y: b.top };
  });
  await page.close();
}
const firstTip = [], load = [];
let text = null;
for (let r = 0; r < runs; ++r) {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1100 } });
  const start = Date.now();
  let loaded = null;
  page.on('load', () => { loaded = Date.now() - start; });
  await page.goto(url, { waitUntil: 'commit' });
  text = null;
  for (let k = 0; !text && Date.now() - start < 120000; ++k) {
    // A move of a fraction of a pixel each time, so that each is an event.
    await page.mouse.move(origin.x + target.x + (k % 2) * 0.25, origin.y + target.y);
    text = await page.evaluate(shown).catch(() => null);
    if (!text) await page.waitForTimeout(20);
  }
  firstTip.push(Date.now() - start);
  await page.waitForLoadState('load');
  load.push(loaded ?? Date.now() - start);
  await page.close();
}
await browser.close();
const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
const ok = text && text.split('\n')[0].trim() === want;
console.log(`first_tip_ms ${median(firstTip)} load_ms ${median(load)} tip ${JSON.stringify(text)}` +
  (ok ? '' : ` (expected ${JSON.stringify(want)})`));
process.exit(ok ? 0 : 1);
