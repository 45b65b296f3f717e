// Loads the pages run.sh made into headless Chromium and checks what a
// reader gets: every county a marked region with its tip (labelled and
// formatted as TIPLABEL=, TIPFORMAT= and the FORMAT= of the data say) and
// its link (URL=); a tip shown when the pointer rests on a county; the BY
// page with one map per group under its BY line, each airport a marker
// with its tip; the page of 150,000 points, drawn as one picture, showing
// the tip of the point under the pointer (as the SVG of the same map has
// it) and following its link, and a state's tip where no point is. Writes
// the maps' screenshots to browser.png and points.png for run.sh to
// compare with the PNGs. Usage: node html_page.mjs RUNDIR
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';
import { svgMarks } from './svg_marks.mjs';

const require = createRequire(path.join(process.env.QV_NODE_MODULES, 'resolve-from-here.js'));
const { chromium } = require('playwright-core');

const dir = process.argv[2];
const failures = [];
function check(ok, message) {
  if (!ok) failures.push(message);
  return ok;
}

// A CSV without quoted cells (run.sh writes and selects only such rows).
function readCsv(file) {
  const lines = fs.readFileSync(file, 'utf8').split('\n').filter((l) => l.length > 0);
  const head = lines[0].split(',');
  return lines.slice(1).map((l) => {
    const cells = l.split(',');
    return Object.fromEntries(head.map((h, i) => [h, cells[i]]));
  });
}

// PERCENT8.1 of a rate given with at most three decimals, DOLLAR10.2 of an
// amount with two: exact in decimal, so no rounding question arises.
const percent = (text) => `${(Math.round(Number(text) * 1000) / 10).toFixed(1)}%`;
function dollar(text) {
  const [whole, cents] = Number(text).toFixed(2).split('.');
  return `$${whole.replace(/\B(?=(\d{3})+(?!\d))/g, ',')}.${cents}`;
}
const escapeRe = (s) => s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
// A tip line shows its label, then the value.
const lineShows = (line, label, value) =>
  new RegExp(`^\\s*${escapeRe(label)}\\s*[:=]?\\s*${escapeRe(value)}\\s*$`).test(line);

// Every marked element of a kind inside `root` with its tip, title and link.
async function marks(root, kind) {
  return root.$$eval(`.${kind}`, (els) =>
    els.map((el) => {
      const tipped = el.hasAttribute('data-tip') ? el : el.closest('[data-tip]') || el.querySelector('[data-tip]');
      const link = el.closest('a') || el.querySelector('a');
      const title = el.querySelector('title') || (el.closest('a') && el.closest('a').querySelector('title'));
      return {
        tip: tipped ? tipped.getAttribute('data-tip') : null,
        title: title ? title.textContent : null,
        href: link ? link.getAttribute('href') || link.getAttribute('xlink:href') : null,
      };
    }));
}

// Visible elements outside the maps' drawings whose text holds all of `parts`.
async function visibleTexts(page, parts) {
  return page.evaluate((parts) => {
    const found = [];
    for (const el of document.body.querySelectorAll('*')) {
      if (el.closest('svg')) continue;
      const text = el.innerText || '';
      if (!parts.every((p) => text.includes(p))) continue;
      const style = getComputedStyle(el);
      const box = el.getBoundingClientRect();
      if (style.visibility !== 'hidden' && style.display !== 'none' && Number(style.opacity) > 0 &&
          box.width > 0 && box.height > 0)
        found.push(el.tagName);
    }
    return found;
  }, parts);
}

async function countyPage(browser) {
  const rows = readCsv(path.join(dir, 'resp.csv'));
  const byId = new Map(rows.map((r) => [r.id, r]));
  const page = await browser.newPage({ viewport: { width: 900, height: 700 }, deviceScaleFactor: 1 });
  const fetched = [];
  page.on('request', (r) => { if (!/^(file|data|about|blob):/.test(r.url())) fetched.push(r.url()); });
  page.on('pageerror', (e) => failures.push(`script error on the page: ${e.message}`));
  await page.goto(`file://${path.join(dir, 'out', 'tavlo1.html')}`);

  const svgs = await page.$$('svg');
  if (!check(svgs.length === 1, `the county page holds ${svgs.length} maps, expected 1`)) return;
  const regions = await marks(page, 'region');
  check(regions.length === rows.length, `${regions.length} region elements, expected ${rows.length} (one per county)`);
  const seen = new Set();
  let shown = 0;
  for (const r of regions) {
    const id = /\/county\/(\d+)\?/.exec(r.href || '');
    if (!check(id, `a region without its link: ${JSON.stringify(r)}`)) continue;
    const row = byId.get(id[1]);
    if (!check(row, `a region links to unknown county ${id[1]}`)) continue;
    check(!seen.has(row.id), `county ${row.id} is marked twice`);
    seen.add(row.id);
    check(r.href === row.url, `county ${row.id} links to ${r.href}, expected ${row.url}`);
    const lines = (r.tip || '').split('\n');
    const want = [['County', row.name], ['rate', percent(row.rate)], ['Spending', dollar(row.spend)]];
    const ok = lines.length === 3 && want.every(([label, value], i) => lineShows(lines[i], label, value));
    if (!check(ok, `county ${row.id}: tip ${JSON.stringify(r.tip)}, expected the lines ${JSON.stringify(want)}`) && ++shown > 5)
      break;
    check(r.title && want.every(([, value]) => r.title.includes(value)),
      `county ${row.id}: title ${JSON.stringify(r.title)} does not say the tip`);
  }

  // The map alone, before the pointer comes, for the comparison with the PNG.
  await svgs[0].screenshot({ path: path.join(dir, 'browser.png') });

  // Resting the pointer on a county shows its tip.
  const target = await page.evaluate(() => {
    let best = null;
    for (const el of document.querySelectorAll('.region')) {
      const b = el.getBoundingClientRect();
      if (!best || b.width * b.height > best.area) best = { el, area: b.width * b.height, b };
    }
    if (!best) return null;
    const { el, b } = best;
    for (let i = 1; i < 10; ++i)
      for (let j = 1; j < 10; ++j) {
        const x = b.left + (b.width * i) / 10, y = b.top + (b.height * j) / 10;
        const hit = document.elementFromPoint(x, y);
        if (hit && (hit === el || el.contains(hit) || hit.contains(el))) {
          const link = el.closest('a') || el.querySelector('a');
          return { x, y, href: link && (link.getAttribute('href') || link.getAttribute('xlink:href')) };
        }
      }
    return null;
  });
  if (check(target && target.href, 'no county could be pointed at')) {
    const row = byId.get(/\/county\/(\d+)\?/.exec(target.href)[1]);
    const parts = [row.name, dollar(row.spend)];
    check((await visibleTexts(page, parts)).length === 0, `the tip of ${row.name} shows before the pointer comes`);
    await page.mouse.move(target.x, target.y);
    let visible = [];
    for (let t = 0; t < 20 && visible.length === 0; ++t) {
      await page.waitForTimeout(100);
      visible = await visibleTexts(page, parts);
    }
    check(visible.length > 0, `pointing at ${row.name} shows no tip with ${JSON.stringify(parts)}`);
  }
  check(fetched.length === 0, `the page fetched ${fetched.join(', ')}`);
  await page.close();
}

async function byPage(browser) {
  const airports = readCsv(path.join(dir, 'airports.csv'));
  const page = await browser.newPage({ viewport: { width: 900, height: 700 } });
  page.on('pageerror', (e) => failures.push(`script error on the BY page: ${e.message}`));
  await page.goto(`file://${path.join(dir, 'out', 'tavlo2.html')}`);
  const groups = ['ID', 'NV', 'UT'];
  const svgs = await page.$$('svg');
  if (!check(svgs.length === groups.length, `the BY page holds ${svgs.length} maps, expected ${groups.length}`)) return;
  // Each map stands under its BY line: the line comes after the map before.
  const order = await page.evaluate((groups) => {
    const maps = [...document.querySelectorAll('svg')];
    return groups.map((g, i) => {
      const want = `state=${g}`;
      const lines = [...document.body.querySelectorAll('*')].filter((el) =>
        !el.closest('svg') && [...el.childNodes].some((n) => n.nodeType === 3 && n.textContent.includes(want)));
      return lines.some((el) =>
        (el.compareDocumentPosition(maps[i]) & Node.DOCUMENT_POSITION_FOLLOWING) &&
        (i === 0 || (el.compareDocumentPosition(maps[i - 1]) & Node.DOCUMENT_POSITION_PRECEDING)));
    });
  }, groups);
  groups.forEach((g, i) => check(order[i], `map ${i + 1} is not under the BY line state=${g}`));
  for (const [i, g] of groups.entries()) {
    const want = airports.filter((a) => a.state === g).map((a) => a.name).sort();
    const got = (await marks(svgs[i], 'marker')).map((m) => (m.tip || '').split('\n')[0]);
    check(got.length === want.length, `map of ${g}: ${got.length} markers, expected ${want.length}`);
    const names = got.map((l) => l.replace(/^\s*name\s*[:=]?\s*/, '').trim()).sort();
    check(JSON.stringify(names) === JSON.stringify(want),
      `map of ${g}: the markers' tips name ${JSON.stringify(names.slice(0, 5))}..., expected ${JSON.stringify(want.slice(0, 5))}...`);
  }
  await page.close();
}

// The tip box as shown, or null.
const shownTip = (page) => page.evaluate(() => {
  const box = document.querySelector('.qv-tip');
  return box && !box.hidden ? box.textContent : null;
});
// Moves the pointer to (x, y) and waits for the tip box to say `want`
// (null: to stay hidden); what it said in the end.
async function tipAt(page, x, y, want) {
  let got = null;
  for (let t = 0; t < 100; ++t) {
    await page.mouse.move(x + (t % 2) * 0.25, y);
    got = await shownTip(page);
    if (got === want) break;
    await page.waitForTimeout(100);
  }
  return got;
}

async function pointsPage(browser) {
  const context = await browser.newContext({ viewport: { width: 900, height: 700 }, deviceScaleFactor: 1 });
  // A link followed opens a page of its own; its address is answered here.
  await context.route('https://example.org/**', (r) => r.fulfill({ body: 'linked', contentType: 'text/plain' }));
  const page = await context.newPage();
  const fetched = [];
  page.on('request', (r) => { if (!/^(file|data|about|blob):/.test(r.url())) fetched.push(r.url()); });
  page.on('pageerror', (e) => failures.push(`script error on the points page: ${e.message}`));
  await page.goto(`file://${path.join(dir, 'out', 'tavlo3.html')}`);
  const svgs = await page.$$('svg');
  if (!check(svgs.length === 1, `the points page holds ${svgs.length} maps, expected 1`)) return;
  // The points are one element; the 49 states, below the threshold, each
  // their own.
  const layout = await page.evaluate(() => ({
    pictures: [...document.querySelectorAll('g.marks')].map((g) =>
      `${g.getAttribute('data-kind')} ${g.getAttribute('data-marks')} ${g.hasAttribute('data-index')} ${g.children.length}`),
    markers: document.querySelectorAll('.marker').length,
    regions: document.querySelectorAll('.region').length,
  }));
  check(JSON.stringify(layout.pictures) === JSON.stringify(['marker 150000 true 1']),
    `the points page's pictures: ${JSON.stringify(layout.pictures)}, expected one of 150000 markers`);
  check(layout.markers === 0, `the points page has ${layout.markers} marker elements, expected none`);
  check(layout.regions === 49, `the points page has ${layout.regions} region elements, expected 49`);
  await svgs[0].screenshot({ path: path.join(dir, 'points.png') });
  const origin = await svgs[0].boundingBox();

  // Where the points are: the SVG of the same map keeps each as a mark.
  const marks = svgMarks(path.join(dir, 'out', 'tavlo4.svg'), 'marker');
  check(marks.length === 150000, `the SVG of the points has ${marks.length} markers, expected 150000`);
  // Points drawn last, with no later point near: on top where they lie.
  const targets = [];
  const taken = new Set();
  const cell = (x, y) => `${Math.floor(x / 8)},${Math.floor(y / 8)}`;
  for (let i = marks.length - 1; i >= 0 && targets.length < 5; --i) {
    const m = marks[i];
    let near = false;
    for (let dx = -1; dx <= 1 && !near; ++dx)
      for (let dy = -1; dy <= 1 && !near; ++dy) near = taken.has(cell(m.x + 8 * dx, m.y + 8 * dy));
    taken.add(cell(m.x, m.y));
    if (!near) targets.push(m);
  }
  for (const m of targets) {
    const got = await tipAt(page, origin.x + m.x, origin.y + m.y, m.tip);
    check(got === m.tip, `pointing at ${JSON.stringify(m.tip)} shows the tip ${JSON.stringify(got)}`);
  }
  // Where no point is, the state beneath shows its own tip.
  const east = await page.evaluate(() => {
    const el = [...document.querySelectorAll('.region')].find((r) => r.getAttribute('data-tip') === 'NAME: Ohio');
    if (!el) return null;
    const b = el.getBoundingClientRect();
    for (let i = 3; i < 8; ++i)
      for (let j = 3; j < 8; ++j) {
        const x = b.left + (b.width * i) / 10, y = b.top + (b.height * j) / 10;
        const hit = document.elementFromPoint(x, y);
        if (hit && el.contains(hit)) return { x, y };
      }
    return null;
  });
  if (check(east, 'Ohio could not be pointed at'))
    check(await tipAt(page, east.x, east.y, 'NAME: Ohio') === 'NAME: Ohio', 'pointing at Ohio does not show its tip');
  // A click on a point follows its link, in a page of its own.
  if (targets.length > 0) {
    const m = targets[0];
    await tipAt(page, origin.x + m.x, origin.y + m.y, m.tip);
    const [opened] = await Promise.all([
      context.waitForEvent('page', { timeout: 10000 }),
      page.mouse.click(origin.x + m.x, origin.y + m.y),
    ]);
    await opened.waitForLoadState().catch(() => {});
    check(opened.url() === m.href, `a click on ${JSON.stringify(m.tip)} opened ${opened.url()}, expected ${m.href}`);
  }
  check(fetched.length === 0, `the points page fetched ${fetched.join(', ')}`);
  await context.close();
}

let browser;
try {
  browser = await chromium.launch({
    executablePath: process.env.QV_CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--font-render-hinting=none'],
  });
  await countyPage(browser);
  await byPage(browser);
  await pointsPage(browser);
} catch (e) {
  failures.push(`${e.stack || e}`);
} finally {
  if (browser) await browser.close();
}
for (const f of failures) console.log(`FAIL: ${f}`);
console.log(`${failures.length === 0 ? 'page checks passed' : `${failures.length} page checks failed`}`);
process.exit(failures.length === 0 ? 0 : 1);
