// The marks of an SVG map as qortavlo writes them (one <g class="KIND">
// each, inside <a href> when it links), read from the file's text: each
// mark's tip, link and the center of its first path's box in the
// viewBox's units. Used to know where a point is drawn on a page that
// draws it into a picture.
import fs from 'node:fs';

const unescapeXml = (s) => s
  .replace(/&#(\d+);/g, (_, n) => String.fromCodePoint(Number(n)))
  .replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"')
  .replace(/&#39;/g, "'").replace(/&amp;/g, '&');

// The box of a path in the writer's syntax: absolute M, relative l h v c, z.
export function pathBox(d) {
  const tokens = d.match(/[MLHVCZmlhvcz]|-?(?:\d+\.?\d*|\.\d+)/g) || [];
  let x = 0, y = 0, sx = 0, sy = 0, cmd = 'M', i = 0;
  const box = { x0: Infinity, y0: Infinity, x1: -Infinity, y1: -Infinity };
  const add = (px, py) => {
    box.x0 = Math.min(box.x0, px); box.x1 = Math.max(box.x1, px);
    box.y0 = Math.min(box.y0, py); box.y1 = Math.max(box.y1, py);
  };
  const num = () => Number(tokens[i++]);
  while (i < tokens.length) {
    if (/[A-Za-z]/.test(tokens[i])) {
      cmd = tokens[i++];
      if (cmd === 'z' || cmd === 'Z') { x = sx; y = sy; }
      continue;
    }
    switch (cmd) {
      case 'M': x = sx = num(); y = sy = num(); cmd = 'l'; break;
      case 'l': x += num(); y += num(); break;
      case 'h': x += num(); break;
      case 'v': y += num(); break;
      case 'c': {  // three points relative to the segment's start
        i += 4;
        x += num(); y += num();
        break;
      }
      default: i++;
    }
    add(x, y);
  }
  return box;
}

// Every mark of `kind` in the SVG file, in drawing order.
export function svgMarks(file, kind) {
  const text = fs.readFileSync(file, 'utf8');
  const re = new RegExp(`(?:<a href="([^"]*)"[^>]*>)?<g class="${kind}"(?: data-tip="([^"]*)")?>(?:<title>[^<]*</title>)?\\s*<path d="([^"]*)"`, 'g');
  const out = [];
  for (const m of text.matchAll(re)) {
    const b = pathBox(m[3]);
    out.push({
      href: m[1] === undefined ? null : unescapeXml(m[1]),
      tip: m[2] === undefined ? null : unescapeXml(m[2]),
      x: (b.x0 + b.x1) / 2,
      y: (b.y0 + b.y1) / 2,
      box: b,
    });
  }
  return out;
}
