// The graph model: what a compiled template describes.
#pragma once

#include <string>

namespace qv::render {

struct GraphModel {
  std::string name;  // the template's name ("tavlo")
};

}  // namespace qv::render
