// The template compiler: parses the graph template text the procedure
// writes into a graph model that the renderer draws.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "render/graph/model.h"

namespace qv::render {

struct CompileResult {
  std::unique_ptr<GraphModel> model;  // null when the text does not compile
  std::string error;                  // what is wrong, naming the offending text
  size_t offset = 0;                  // byte offset of the problem in the text
};

CompileResult compileTemplate(std::string_view text);

}  // namespace qv::render
