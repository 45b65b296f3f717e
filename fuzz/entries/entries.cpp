#include "entries.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/filebuf.h"
#include "fake_host.h"
#include "module/color/color.h"
#include "render/graph/compiler.h"
#include "render/paint/canvas.h"
#include "runtime/data/csv.h"
#include "runtime/data/derive.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/geojson.h"
#include "runtime/data/topojson.h"
#include "runtime/data/where.h"
#include "runtime/program/program.h"
#include "session/session.h"

namespace qv::fuzz {
namespace {

namespace fs = std::filesystem;

std::string_view asText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

void ignoreNote(const std::string&) {}

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// A table a reader made holds one value per row in every column, or one
// per run of rows where the runs cover the rows in order, none empty.
void checkTable(const rt::Table& t) {
  for (const auto& c : t.columns) {
    size_t values = t.rows;
    if (c.runs) {
      const std::vector<size_t>& r = *c.runs;
      if (r.empty() || r.back() != t.rows || (r.size() > 1 && r.front() != 0))
        broken("the runs of a column do not cover its rows");
      for (size_t k = 1; k < r.size(); ++k)
        if (r[k] <= r[k - 1]) broken("a run of a column is empty or out of order");
      values = r.size() - 1;
    }
    const bool whole = c.numeric() ? c.num.size() == values
                                   : c.offsets.size() == values + 1 && c.offsets.back() == c.arena.size();
    if (!whole) broken("a column does not hold one value per row");
  }
}

// True when a program text can name no file outside its own folder and no
// URL: no "//", "..", backslash or NUL, and no "/" starting a quoted text or
// an option value (an absolute path). A "/" elsewhere (options after a
// slash, comments, division) is fine.
bool staysInFolder(std::string_view text) {
  if (text.find("//") != text.npos || text.find("..") != text.npos ||
      text.find('\\') != text.npos || text.find('\0') != text.npos)
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\'' && c != '"' && c != '=') continue;
    size_t j = i + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t' || text[j] == '\n' ||
                               text[j] == '\r'))
      ++j;
    if (j < text.size() && text[j] == '/') return false;
  }
  return true;
}

// A small fixed table for binding WHERE expressions.
const rt::Table& sampleTable() {
  static const rt::Table table = [] {
    static const char kCsv[] =
        "name,state,rate,when\n"
        "Ada,WA,4.5,21915\n"
        "Bo,OR,.,0\n"
        "Cy,,12,-3\n";
    rt::CsvSettings settings;
    return rt::parseDelimited(qv::TextBuffer::fromText(kCsv), "sample.csv", settings,
                              ignoreNote);
  }();
  return table;
}

}  // namespace

int programReader(const uint8_t* data, size_t size) {
  if (size > kMaxText) return 0;
  rt::ProgramReader reader(std::string(asText(data, size)), "fuzz.tav");
  rt::Item item;
  // Each call consumes at least one statement; the cap only guards against
  // a reader that stops making progress.
  auto inText = [&](const rt::Statement& st) {
    for (const auto& t : st.tokens)
      if (t.offset < 0 || static_cast<size_t>(t.offset) + static_cast<size_t>(t.length) > size)
        broken("a token lies outside the program text");
  };
  for (size_t calls = 0; calls < size + 16; ++calls) {
    try {
      if (!reader.next(item)) return 0;
      inText(item.statement);
      for (const auto& st : item.step.statements) inText(st);
    } catch (const qv::UserError&) {
    }
  }
  std::fprintf(stderr, "program reader made no progress\n");
  std::abort();
}

int whereExpr(const uint8_t* data, size_t size) {
  if (size > kMaxText) return 0;
  try {
    auto expr = rt::parseWhere(asText(data, size));
    expr->bind(sampleTable(), "WORK.SAMPLE");
    for (size_t row = 0; row < 3; ++row) (void)expr->test(row);
  } catch (const qv::UserError&) {
  }
  // The same text as the items of COMPUTE=, made into columns of the table.
  try {
    static const auto table = std::make_shared<const rt::Table>(sampleTable());
    rt::Frame frame = rt::frameOf(table);
    rt::DeriveNotes notes;
    rt::computeColumns(frame, std::string(asText(data, size)), "WORK.SAMPLE", notes);
    for (const rt::Column* c : frame.columns) {
      const size_t values = c->numeric() ? c->num.size() : c->offsets.size() - 1;
      if (values != frame.rows) broken("a computed column has the wrong number of values");
    }
  } catch (const qv::UserError&) {
  }
  return 0;
}

// Each input is one session of its own (a run of the command has its own
// color cache, which keeps every text it was asked for): its lines are the
// color texts looked up in turn, so cache hits across texts are exercised
// while memory stays bounded by the input.
int color(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  test::FakeHost fake;
  fake.install();
  std::string_view all = asText(data, size);
  while (true) {
    const size_t end = std::min(all.find('\n'), all.size());
    const char* text = all.data();
    const auto length = static_cast<int32_t>(end);
    for (int32_t model = module::kModelRgb; model <= module::kModelByteRgb; ++model) {
      module::ColorValue value;
      value.model = model;
      (void)module::ggcolor(text, length, &value);
    }
    char out[8];
    (void)module::process_color(text, length, out);
    // Every text gets a color: CX and six hexadecimal digits.
    if (out[0] != 'C' || out[1] != 'X' ||
        !std::all_of(out + 2, out + 8, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
      broken("a color text was answered with no color");
    if (end == all.size()) break;
    all.remove_prefix(end + 1);
  }
  return 0;
}

int delimited(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxData) return 0;
  // The first byte picks the delimiter and the name rule.
  rt::CsvSettings settings;
  settings.delimiter = (data[0] & 1) ? '\t' : ',';
  settings.names = (data[0] & 2) ? rt::VarNameRule::Any : rt::VarNameRule::Strict;
  try {
    checkTable(rt::parseDelimited(qv::TextBuffer::fromText(asText(data + 1, size - 1)),
                                  "fuzz.csv", settings, ignoreNote));
  } catch (const qv::UserError&) {
  }
  return 0;
}

// Whether two tables hold the same columns and values.
bool sameTables(const rt::Table& a, const rt::Table& b) {
  if (a.rows != b.rows || a.columns.size() != b.columns.size()) return false;
  for (size_t c = 0; c < a.columns.size(); ++c) {
    const rt::Column &x = a.columns[c], &y = b.columns[c];
    if (x.name != y.name || x.type != y.type || x.width != y.width) return false;
    for (size_t r = 0; r < a.rows; ++r) {
      if (!x.numeric() && x.str(r) != y.str(r)) return false;
      if (x.numeric() && !(x.number(r) == y.number(r) ||
                           (std::isnan(x.number(r)) && std::isnan(y.number(r)))))
        return false;
    }
  }
  return true;
}

// A FeatureCollection read a batch of features at a time gives what the
// whole text read at once gives, and is read so only when that succeeds.
void batchesReadAsTheWhole(std::string_view text, rt::VarNameRule names) {
  rt::geo::RowBuilder rows("fuzz.json");
  if (!rt::geo::batchedGeoJson(text, "fuzz.json", rows)) return;
  std::optional<rt::Table> batched, whole;
  try {
    batched = rows.finish(names, ignoreNote);
  } catch (const qv::UserError&) {
  }
  try {
    rt::geo::Document doc;
    rt::geo::parseDocument(text, "fuzz.json", doc);
    whole = rt::geo::geoJsonTable(doc, "fuzz.json", names, ignoreNote);
  } catch (const qv::UserError&) {
    if (batched) broken("a collection read in batches is refused when read whole");
  }
  if (batched && whole && !sameTables(*batched, *whole))
    broken("a collection read in batches differs from the one read whole");
}

int geoData(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxData) return 0;
  const auto names = (data[0] & 1) ? rt::VarNameRule::Any : rt::VarNameRule::Strict;
  batchesReadAsTheWhole(asText(data + 1, size - 1), names);
  try {
    // Bit 1 of the first byte: read a JSON list as records, as .json members are.
    checkTable(rt::parseGeoData(asText(data + 1, size - 1), "fuzz.json", "", names, ignoreNote,
                                (data[0] & 2) != 0));
  } catch (const qv::UserError& e) {
    if (std::string_view(e.what()).find("fuzz.json") == std::string_view::npos)
      broken("a reader's error does not name the file");
  }
  (void)rt::topoJsonObjectNames(asText(data + 1, size - 1));  // never throws
  return 0;
}

int templateCompiler(const uint8_t* data, size_t size) {
  if (size > kMaxText) return 0;
  auto result = render::compileTemplate(asText(data, size));
  if (!result.model && result.error.empty()) broken("template failed to compile without a message");
  if (result.model && !result.error.empty()) broken("a compiled template has an error");
  if (result.offset > size) broken("an error's place lies outside the template");
  return 0;
}

// Tile images come from any server: PNG or JPEG bytes, decoded as tiles
// are (sides up to 1024 pixels here, to keep each run short).
int tileImage(const uint8_t* data, size_t size) {
  if (size > kMaxData) return 0;
  try {
    if (render::looksLikeJpeg(data, size))
      render::decodeJpeg(data, size, "tile", 1024);
    else
      render::decodePng(data, size, "tile", 1024);
  } catch (const qv::UserError&) {
  }
  return 0;
}

// The folder a whole step runs in, made once and removed at exit.
const fs::path& stepFolder() {
  static const fs::path dir = [] {
    char tmpl[] = "/tmp/qv-fuzz-step-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (!made) std::abort();
    return fs::path(made);
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
      std::error_code ec;
      fs::remove_all(stepFolder(), ec);
    }) == 0;
  }();
  (void)cleanup;
  return dir;
}

int wholeStep(const uint8_t* data, size_t size) {
  if (size > kMaxText) return 0;
  const std::string_view text = asText(data, size);
  // Keep the run inside its own folder and off the network: no paths, no
  // URLs (the tile URL is fixed below to a folder that does not exist).
  if (!staysInFolder(text)) return 0;
  const fs::path& dir = stepFolder();
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) fs::remove_all(e.path(), ec);
  {
    std::ofstream csv(dir / "data.csv");
    csv << "id,name,value,lon,lat\n"
           "1,Ada,4.5,-122.3,47.6\n"
           "1,Ada,4.5,-122.1,47.8\n"
           "1,Ada,4.5,-122.0,47.5\n"
           "2,Bo,.,-123.0,45.5\n"
           "2,Bo,.,-122.8,45.7\n"
           "2,Bo,.,-122.6,45.4\n";
    std::ofstream prog(dir / "program.tav");
    prog << "LIBRARY d '.';\n"
            "OPTIONS TILEURL='file:///nonexistent-qv-fuzz/{z}/{x}/{y}.png';\n"
         << text << "\n";
  }
  rt::RunOptions opt;
  opt.programPath = (dir / "program.tav").string();
  opt.outDir = (dir / "out").string();
  fs::create_directories(opt.outDir, ec);
  (void)rt::runProgram(opt);
  return 0;
}

}  // namespace qv::fuzz
