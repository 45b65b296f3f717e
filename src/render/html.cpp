#include "render/html.h"

namespace qv::render {

// Placeholder until the page writer lands: the maps one after the other.
std::string htmlPage(std::string_view title, const std::vector<HtmlMap>& maps) {
  std::string out = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  out += title;
  out += "</title></head><body>\n";
  for (const HtmlMap& m : maps) out += "<figure>" + m.svg + "</figure>\n";
  return out + "</body></html>\n";
}

}  // namespace qv::render
