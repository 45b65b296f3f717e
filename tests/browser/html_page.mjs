// Loads the pages run.sh made into headless Chromium and checks what a
// reader gets: every county a marked region with its tip (labelled and
// formatted as TIPLABEL=, TIPFORMAT= and the FORMAT= of the data say) and
// its link (URL=); a tip shown when the pointer rests on a county; the BY
// page with one map per group under its BY line, each airport a marker
// with its tip. Writes the map's screenshot to browser.png for run.sh to
// compare with the PNG. Usage: node html_page.mjs RUNDIR
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

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

let browser;
try {
  browser = await chromium.launch({
    executablePath: process.env.QV_CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--font-render-hinting=none'],
  });
  await countyPage(browser);
  await byPage(browser);
} catch (e) {
  failures.push(`${e.stack || e}`);
} finally {
  if (browser) await browser.close();
}
for (const f of failures) console.log(`FAIL: ${f}`);
console.log(`${failures.length === 0 ? 'page checks passed' : `${failures.length} page checks failed`}`);
process.exit(failures.length === 0 ? 0 : 1);
