#include "module/template/handoff.h"

#include <algorithm>

#include "common/ascii.h"
#include "common/platform.h"
#include "module/host/messages.h"
#include "module/text/textutil.h"

namespace qv::module {

using host::kOk;
using host::Status;

namespace {

// The value of a macro variable without trailing blanks ("" when undefined).
std::string macro(std::string_view name) {
  std::string value;
  if (!host::host().xjsymgc(name, &value)) return {};
  value.resize(static_cast<size_t>(std::max(0, wzstrip(value.data(), static_cast<int>(value.size())))));
  return value;
}

// The first word of a template statement: up to a blank, "/" or ";".
std::string_view firstWord(std::string_view statement) {
  size_t end = statement.find_first_of(" /;");
  return statement.substr(0, end == std::string_view::npos ? statement.size() : end);
}

constexpr int kIndentStep = 3;
constexpr int kMaxIndent = 30;
constexpr std::string_view kLineEnd = "\n";

// Writes the statements of the template, one per line. Statements end at a
// ";" outside double quotes, so that a ";" in a quoted text neither splits
// the text across lines nor ends the template early.
Status writeStatements(host::Stream* out, std::string_view text) {
  static const std::string blanks(kMaxIndent, ' ');
  int indent = 0;
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    const bool last = i + 1 == text.size();
    if ((text[i] != ';' || quoted) && !last) continue;
    std::string_view statement = text.substr(start, i + 1 - start);
    start = i + 1;
    const std::string_view word = firstWord(statement);
    const bool opens = qv::sameNoCase(word, "layout");
    if (qv::sameNoCase(word, "endlayout")) indent = std::max(0, indent - kIndentStep);
    std::string_view pad(blanks.data(), static_cast<size_t>(std::min(indent, kMaxIndent)));
    for (std::string_view piece : {pad, statement, kLineEnd})
      QV_TRY(out->write(piece));
    if (opens) indent += kIndentStep;
    if (statement == "end;") break;
  }
  return kOk;
}

}  // namespace

int validCRenderPlatform() {
  const std::string scp = macro("SYSSCP");
  if (scp == "LIN X64" || scp == "LX POWER") return 1;
  // The renderer is built with this program: it runs on the machine the
  // program was built for, whatever that is.
  if (scp == qv::builtSysscp()) return 1;
  if (scp == "WIN") {
    const std::string scpl = macro("SYSSCPL");
    const std::string_view head = std::string_view(scpl).substr(0, 3);
    if (head == "X64" || head == "W64") return 1;
  }
  return 0;
}

bool zbugi(std::string_view module) { return qv::hasWord(host::host().xoptcgt("DEBUG"), module); }

Status generate_source(host::ObjectFactory* factory, int pathLength, const char* path,
                       const char* text, int64_t length) {
  host::Host& h = host::host();
  const std::string_view file(path ? path : "", path ? static_cast<size_t>(std::max(pathLength, 0)) : 0);
  Status st = host::kHostFailure;
  host::Object* object = factory && !file.empty() ? factory->create("kdl", "stream_flatfile", file)
                                                  : nullptr;
  if (auto* out = dynamic_cast<host::Stream*>(object)) {
    st = out->open(true);
    if (!st) st = out->write("proc template;");
    if (!st) st = out->write(kLineEnd);
    if (!st && text && length > 0)
      st = writeStatements(out, std::string_view(text, static_cast<size_t>(length)));
    if (!st) st = out->write("run;");
    if (!st) st = out->write(kLineEnd);
    // Closing flushes the file: its failure is a failure to write.
    Status closed = out->close();
    if (!st) st = closed;
  }
  if (object) factory->release(object);
  if (st) h.xpmlog(kMsgTemplateNotWritten, {file});
  return st;
}

void adjustRendererSettings(RendererSettings* saved) {
  host::Host& h = host::host();
  std::string& format = h.outputFormat();
  saved->formatSaved = false;

  const std::string_view name = format;
  const bool named = name == "SVG" || name == "PDF" || name == "EMF";
  const bool family = name.substr(0, 3) == "PDF" || name.substr(0, 3) == "EMF";
  if (!named && !family && name != "STATIC") return;
  if (named) h.xpmlog(kMsgGraphFormat, {name});
  saved->format = format;
  saved->formatSaved = true;
  format = "PNG";
}

void restoreRendererSettings(RendererSettings* saved) {
  if (saved->formatSaved) host::host().outputFormat() = saved->format;
  saved->formatSaved = false;
}

bool rendererAvailable() {
  std::string value;
  const Status st = host::host().wzosvar(kRendererPathVariable, &value);
  return st == kOk || st == host::kEnvTruncated;
}

}  // namespace qv::module
