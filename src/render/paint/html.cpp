#include "render/paint/html.h"

#include <algorithm>

#include "render/paint/svg_painter.h"

namespace qv::render {
namespace {

// The page's look: maps at their own size (narrowed to the window when it
// is smaller), captions above them, and the box that shows a tip.
constexpr const char* kStyle = R"(body{margin:8px;background:#fff;color:#222;font-family:sans-serif}
figure{margin:0 0 24px}
figcaption{margin:0 0 6px;font-size:14px;white-space:pre-wrap}
figure svg{display:block;max-width:100%;height:auto}
svg [data-tip]:focus,svg a:focus{outline:2px solid #1a6fd0}
.qv-tip{position:fixed;z-index:10;left:0;top:0;max-width:360px;padding:4px 8px;pointer-events:none;
background:#fffffff4;color:#111;border:1px solid #777;border-radius:3px;box-shadow:0 1px 4px #0000004d;
font:13px/1.35 sans-serif;white-space:pre-wrap}
.qv-tip[hidden]{display:none}
)";

// Shows the tip (data-tip) of the mark under the pointer in a box that
// follows it; on a tap, and on keyboard focus, too. While the box shows a
// mark's tip, the mark's <title> steps aside so that the viewer's own
// tooltip does not show the same text a second time.
//
// A layer drawn as one picture (g.marks, see mark_picture.h) takes no
// pointer events itself: its index, unpacked once the page is read, holds
// the map of its marks and their tips and links. Where the pointer is over
// the picture and its map has a mark there (or a pixel or two away), that
// mark is the one under the pointer unless what the pointer is on is drawn
// above the picture; a click on it follows its link.
constexpr const char* kScript = R"((function () {
  var box = document.createElement('div');
  box.className = 'qv-tip';
  box.setAttribute('role', 'tooltip');
  box.hidden = true;
  document.body.appendChild(box);
  var current = null, title = null;
  function markOf(node) {
    for (var n = node; n && n.nodeType === 1; n = n.parentNode)
      if (n.hasAttribute('data-tip')) return n;
    return null;
  }
  function hide() {
    if (current && title && !title.parentNode) current.insertBefore(title, current.firstChild);
    current = null;
    title = null;
    box.hidden = true;
  }
  function place(x, y) {
    var w = box.offsetWidth, h = box.offsetHeight;
    var left = x + 14, top = y + 18;
    if (left + w > window.innerWidth - 4) left = Math.max(4, x - 14 - w);
    if (top + h > window.innerHeight - 4) top = Math.max(4, y - 12 - h);
    box.style.left = left + 'px';
    box.style.top = top + 'px';
  }
  // `key`: a mark element, or the name of a mark of a picture.
  function show(key, text, x, y) {
    if (key !== current) {
      hide();
      current = key;
      var t = typeof key === 'string' ? null : key.firstElementChild;
      if (t && t.localName === 'title') {
        title = t;
        key.removeChild(t);
      }
      box.textContent = text;
      box.hidden = false;
    }
    place(x, y);
  }
  var pictures = [];
  function unpack(p, buf) {
    var head = new DataView(buf, 0, 16);
    var w = head.getUint32(0, true), h = head.getUint32(4, true), cells = w * h;
    var map = new Uint32Array(cells);
    if (new Uint8Array(new Uint32Array([1]).buffer)[0] === 1) map.set(new Uint32Array(buf, 16, cells));
    else for (var i = 0; i < cells; ++i) map[i] = new DataView(buf).getUint32(16 + 4 * i, true);
    p.texts = new TextDecoder().decode(new Uint8Array(buf, 16 + 4 * cells)).split('\0');
    p.w = w;
    p.h = h;
    p.map = map;
  }
  var layers = document.querySelectorAll('svg g.marks[data-index]');
  for (var i = 0; i < layers.length; ++i) {
    var p = { image: layers[i].querySelector('image'), map: null };
    if (!p.image || typeof DecompressionStream === 'undefined') continue;
    pictures.push(p);
    var text = atob(layers[i].getAttribute('data-index')), bytes = new Uint8Array(text.length);
    for (var k = 0; k < text.length; ++k) bytes[k] = text.charCodeAt(k);
    new Response(new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate')))
      .arrayBuffer().then(unpack.bind(null, p));
  }
  // The mark of a picture at (x, y) drawn above `under`: its name, tip and link.
  function pictureMark(x, y, under) {
    for (var i = pictures.length - 1; i >= 0; --i) {
      var p = pictures[i];
      if (!p.map || (under && !(under.compareDocumentPosition(p.image) & Node.DOCUMENT_POSITION_FOLLOWING)))
        continue;
      var b = p.image.getBoundingClientRect();
      if (!(x >= b.left && y >= b.top && x < b.right && y < b.bottom)) continue;
      var gx = Math.floor((x - b.left) * p.w / b.width), gy = Math.floor((y - b.top) * p.h / b.height);
      var n = p.map[gy * p.w + gx];
      for (var r = 1; !n && r <= 2; ++r)
        for (var dy = -r; dy <= r && !n; ++dy)
          for (var dx = -r; dx <= r && !n; ++dx) {
            var mx = gx + dx, my = gy + dy;
            if (mx >= 0 && my >= 0 && mx < p.w && my < p.h) n = p.map[my * p.w + mx];
          }
      if (n) return { key: i + ':' + n, tip: p.texts[2 * n - 2] || '', url: p.texts[2 * n - 1] || '' };
    }
    return null;
  }
  function pointer(e) {
    var hit = pictureMark(e.clientX, e.clientY, e.target);
    document.documentElement.style.cursor = hit && hit.url ? 'pointer' : '';
    if (hit) {
      if (hit.tip) show(hit.key, hit.tip, e.clientX, e.clientY);
      else hide();
      return;
    }
    var m = markOf(e.target);
    if (m) show(m, m.getAttribute('data-tip'), e.clientX, e.clientY);
    else if (current) hide();
  }
  document.addEventListener('pointermove', pointer);
  document.addEventListener('pointerdown', pointer);
  document.addEventListener('click', function (e) {
    var hit = pictureMark(e.clientX, e.clientY, e.target);
    if (!hit) return;
    e.preventDefault();
    if (hit.url) window.open(hit.url, '_blank', 'noopener');
  });
  document.documentElement.addEventListener('pointerleave', hide);
  window.addEventListener('scroll', hide, true);
  document.addEventListener('keydown', function (e) { if (e.key === 'Escape') hide(); });
  document.addEventListener('focusin', function (e) {
    // A focused link holds its mark.
    var m = markOf(e.target) || (e.target.localName === 'a' && e.target.querySelector('[data-tip]'));
    if (!m) return;
    var b = m.getBoundingClientRect();
    show(m, m.getAttribute('data-tip'), b.left + b.width / 2, b.top + b.height / 2);
  });
  document.addEventListener('focusout', hide);
  // Marks with a tip are reached with the keyboard too (links already are).
  var marks = document.querySelectorAll('svg [data-tip]');
  for (var j = 0; j < marks.length; ++j)
    if (!marks[j].closest('a')) marks[j].setAttribute('tabindex', '0');
})();
)";

}  // namespace

// The writer's ids all begin "q-". The patterns only occur in attributes
// the writer made: user text in the drawing has its quotes escaped.
void appendRenamedIds(std::string& out, const std::string& svg, size_t n) {
  if (n == 0) {
    out += svg;
    return;
  }
  const std::string prefix = "q" + std::to_string(n) + "-";
  size_t at = 0;
  size_t a = svg.find("id=\"q-"), b = svg.find("=\"url(#q-");
  while (at < svg.size()) {
    if (a < at) a = svg.find("id=\"q-", at);
    if (b < at) b = svg.find("=\"url(#q-", at);
    const size_t next = std::min(a, b);
    if (next == std::string::npos) break;
    const size_t q = next + (next == a ? 4 : 7);  // where "q-" begins
    out.append(svg, at, q - at);
    out += prefix;
    at = q + 2;
  }
  out.append(svg, at, std::string::npos);
}

std::string htmlPage(std::string_view title, const std::vector<HtmlMap>& maps) {
  size_t size = 4096;
  for (const HtmlMap& m : maps) size += m.svg.size() + m.caption.size() + 64;
  std::string out;
  out.reserve(size);
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  appendXmlEscaped(out, title.empty() ? std::string_view("qortavlo") : title, false);
  out += "</title>\n<style>\n";
  out += kStyle;
  out += "</style>\n</head>\n<body>\n";
  for (size_t i = 0; i < maps.size(); ++i) {
    out += "<figure>\n";
    if (!maps[i].caption.empty()) {
      out += "<figcaption>";
      appendXmlEscaped(out, maps[i].caption, false);
      out += "</figcaption>\n";
    }
    appendRenamedIds(out, maps[i].svg, i);
    out += "</figure>\n";
  }
  out += "<script>\n";
  out += kScript;
  out += "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace qv::render
