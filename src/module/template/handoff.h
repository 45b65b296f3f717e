// Around the hand-off to rendering: the renderer's platform and path
// checks, the output settings changed for the step, the debug listing and
// the template file of TMPLOUT=.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "module/host/host.h"

namespace qv::module {

// The environment variable that names the renderer's folder.
inline constexpr std::string_view kRendererPathVariable = "QOR_KDLG_CRENDER_PATH";

// 1 when the machine the host runs on (SYSSCP, SYSSCPL) can run the
// renderer: "LIN X64", "LX POWER", "WIN" on a 64-bit Windows, or the
// machine this program was built for (qv::builtSysscp: "LIN A64" on 64-bit
// ARM).
int validCRenderPlatform();

// Whether the host's DEBUG option names the module (a word of its text,
// without regard to case).
bool zbugi(std::string_view module);

// Writes the template to the file `path` (relative paths are the host's
// to resolve): "proc template;", one statement per line indented by 3
// blanks per open layout, up to "end;", then "run;". Any failure writes
// 860/45 naming the file and answers non-zero; the step goes on.
host::Status generate_source(host::ObjectFactory* factory, int pathLength, const char* path,
                             const char* text, int64_t length);

// The renderer setting a step changes, kept to be put back.
struct RendererSettings {
  bool formatSaved = false;  // the output format was replaced
  std::string format;        // the output format as the host had it
};

// Replaces an output format the renderer cannot write (SVG, PDF*, EMF*,
// STATIC) by PNG; SVG, PDF and EMF themselves draw 854/207 naming the
// format.
void adjustRendererSettings(RendererSettings* saved);
// Puts back what adjustRendererSettings changed; safe to call more than once.
void restoreRendererSettings(RendererSettings* saved);

// Whether the renderer's folder is known (kRendererPathVariable).
bool rendererAvailable();

}  // namespace qv::module
