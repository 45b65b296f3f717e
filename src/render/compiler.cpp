#include "render/compiler.h"

namespace qv::render {

// Placeholder until the compiler lands: every text compiles to an empty model.
CompileResult compileTemplate(std::string_view) {
  CompileResult r;
  r.model = std::make_unique<GraphModel>();
  return r;
}

}  // namespace qv::render
