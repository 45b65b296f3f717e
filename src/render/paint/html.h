// The HTML page of a step: its maps as inline SVG, each under its caption
// (the BY line), with the script and style that show a mark's tip when the
// pointer rests on it. The page fetches nothing: it works offline.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv::render {

struct HtmlMap {
  std::string caption;  // shown above the map ("" for none)
  std::string svg;      // the <svg> element of the map (RenderResult::document)
};

// Appends a drawing's <svg> element with its element ids made its own
// among others: the n-th (from 1) gets "qn-" for "q-"; 0 keeps them.
void appendRenamedIds(std::string& out, const std::string& svg, size_t n);

// The whole page, titled `title` (HTML-escaped here).
std::string htmlPage(std::string_view title, const std::vector<HtmlMap>& maps);

}  // namespace qv::render
