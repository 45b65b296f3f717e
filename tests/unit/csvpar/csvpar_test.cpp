// A buffer read in many parts, or a file read in many blocks, gives the
// table, or the error, of a read in one part, wherever the cuts fall.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "runtime/data/csv.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::errorOf;

namespace {

constexpr size_t kWhole = std::numeric_limits<size_t>::max();

Table parse(const std::string& text, size_t chunk, char delim = ',', Schema* schema = nullptr,
            size_t block = 0) {
  TextBuffer b = TextBuffer::fromText(text);
  CsvSettings s;
  s.delimiter = delim;
  s.schema = schema;
  s.chunkBytes = chunk;
  s.blockBytes = block;
  return parseDelimited(std::move(b), "t.csv", s, {});
}

// Everything a reader of the table sees, as one text.
std::string dump(const Table& t) {
  std::ostringstream o;
  o << "rows " << t.rows << "\n";
  for (const Column& k : t.columns) {
    o << k.name << " type " << k.type << " width " << k.width << " label " << k.label
      << " format " << k.format << k.formatWidth << "." << k.formatDecimals << ":";
    for (size_t r = 0; r < t.rows; ++r) {
      if (k.numeric()) {
        uint64_t bits;
        std::memcpy(&bits, &k.num[r], 8);
        o << ' ' << (std::isnan(k.num[r]) ? 0 : bits);
      } else {
        o << " [" << k.str(r) << ']';
      }
    }
    if (k.numeric()) o << (k.arena.empty() && k.offsets.empty() ? "" : " texts kept");
    o << "\n";
  }
  return o.str();
}

// The table or the error text, read with `chunk` bytes per part and
// `block` bytes per block.
std::string outcome(const std::string& text, size_t chunk, char delim = ',',
                    Schema* schema = nullptr, size_t block = 0) {
  std::string out;
  std::string e = errorOf([&] { out = dump(parse(text, chunk, delim, schema, block)); });
  return e.empty() ? out : "error: " + e;
}

void expectSameInParts(const std::string& text, const std::string& what, char delim = ',',
                       Schema* schema = nullptr) {
  const std::string whole = outcome(text, kWhole, delim, schema);
  const std::pair<size_t, size_t> ways[] = {{1, 0}, {7, 0}, {64, 0}, {0, 0},  {0, 1},
                                            {0, 2}, {0, 7}, {0, 64}, {7, 64}, {1, 3}};
  for (auto [chunk, block] : ways)
    EXPECT_EQ(outcome(text, chunk, delim, schema, block), whole)
        << what << ", chunk " << chunk << ", block " << block;
}

// Rows of mixed cells: numbers, missing values, quoted texts with line ends
// and doubled quotes inside, non-ASCII text; `late` is numeric but for one
// text near the end, `early` is text only in its first row.
// `starts`, when given, receives where each row starts.
std::string generated(std::mt19937& rng, int rows, const char* eol, bool bom,
                      std::vector<size_t>* starts = nullptr) {
  std::string s = bom ? "\xEF\xBB\xBF" : "";
  s += std::string("x,name,late,early,note") + eol;
  const char* notes[] = {"\"two\nlines\"", "\"crlf\r\nin it\"", "\"say \"\"hi\"\"\"", "caf\xC3\xA9",
                         "", ".", "\"a,b\"", "  blanks  "};
  for (int r = 0; r < rows; ++r) {
    if (starts) starts->push_back(s.size());
    s += std::to_string(static_cast<int>(rng() % 20000) - 10000) + "." + std::to_string(rng() % 100);
    s += ",n" + std::to_string(rng() % 1000);
    s += "," + (r == rows - 3 ? std::string("text") : std::to_string(rng() % 50));
    s += "," + (r == 0 ? std::string("head") : std::to_string(rng() % 7));
    s += std::string(",") + notes[rng() % 8] + eol;
  }
  return s;
}

}  // namespace

TEST(CsvParts, SameTableAsOneRead) {
  // The example data files.
  const std::filesystem::path data = QV_SOURCE_DIR "/examples/data";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".csv" && ext != ".tsv") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const char delim = ext == ".tsv" ? '\t' : ',';
    const std::string whole = outcome(text, kWhole, delim);
    ASSERT_EQ(whole.rfind("error", 0), std::string::npos) << entry.path() << whole;
    for (size_t chunk : {size_t{7}, size_t{4096}})
      EXPECT_EQ(outcome(text, chunk, delim), whole) << entry.path() << ", chunk " << chunk;
    ++files;
  }
  EXPECT_GE(files, 5);

  // Generated files: cuts inside quoted values, inside CRLF pairs, right
  // after the byte order mark; columns numeric in some parts only.
  std::mt19937 rng(7);
  for (const char* eol : {"\n", "\r\n", "\r"})
    for (bool bom : {false, true}) expectSameInParts(generated(rng, 300, eol, bom), "generated");
  expectSameInParts("v\n1\n\n3\n\n\nx\n\n", "one column with empty lines");
  expectSameInParts("\xEF\xBB\xBF" "a,b\r\n1,2", "no line end at the end");
  expectSameInParts("a,b\r\n", "header only");
  expectSameInParts("a;b\n\"x\n\";1\n\"\";\"2\"\n", "quoted number", ';');

  // Declared types, labels and formats.
  Schema schema;
  schema.file = "t.schema.json";
  schema.fields.resize(2);
  schema.fields[0].name = "late";
  schema.fields[0].type = 2;
  schema.fields[0].title = "Late";
  schema.fields[1].name = "x";
  schema.fields[1].type = 1;
  schema.fields[1].hasFormat = parseFormatSpec("DOLLAR8.2", &schema.fields[1].format);
  expectSameInParts(generated(rng, 200, "\n", false), "schema", ',', &schema);

  // A large file in one part per core.
  const std::string big = generated(rng, 160000, "\r\n", true);
  ASSERT_GT(big.size(), size_t{4} << 20);
  EXPECT_EQ(outcome(big, big.size() / 2 + 1), outcome(big, kWhole));
}

TEST(CsvParts, SameFirstErrorAsOneRead) {
  std::mt19937 rng(11);
  std::vector<size_t> row;
  const std::string good = generated(rng, 400, "\n", false, &row);
  struct Bad {
    const char* what;
    std::string text;
  };
  std::string ragged = good;
  ragged.insert(row[350], "1,2\n");
  ragged.insert(row[300], "1,2,3,4,5,6\n");  // the first, in an earlier part
  std::string quote = good + "1,n,2,3,\"never closed\n4,n,5,6,x\n";
  std::string afterQuote = ragged;
  afterQuote.insert(row[200], "1,n,2,3,\"q\"x\n");
  std::string utf8 = ragged + "1,n,2,3,caf\xC3\n";  // checked before any row
  std::string forced = good;
  forced.insert(row[350], "oops,n,1,1,x\n");
  const Bad bads[] = {{"ragged", ragged}, {"quote", quote}, {"after quote", afterQuote},
                      {"utf8", utf8}, {"forced", forced}};

  Schema schema;
  schema.file = "t.schema.json";
  schema.fields.resize(1);
  schema.fields[0].name = "x";
  schema.fields[0].type = 1;
  for (const Bad& b : bads) {
    const std::string whole = outcome(b.text, kWhole, ',', &schema);
    ASSERT_EQ(whole.rfind("error", 0), 0u) << b.what;
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{64}, size_t{4096}})
      EXPECT_EQ(outcome(b.text, chunk, ',', &schema), whole) << b.what << ", chunk " << chunk;
    for (size_t block : {size_t{1}, size_t{64}})
      EXPECT_EQ(outcome(b.text, 0, ',', &schema, block), whole) << b.what << ", block " << block;
  }
  EXPECT_NE(outcome(ragged, 64).find("6 values"), std::string::npos);

  // Random edits of a small file with line ends inside quotes: the outcome,
  // table or error, never depends on where the cuts fall.
  const std::string seed = "a,b,c\r\n1,\"x\r\ny\",2\n\"q\"\"\",3,\n4,\"\n\",.\n";
  for (int i = 0; i < 3000; ++i) {
    const std::string text = qv::rt::testing::mutate(seed, rng, "\",\n\r x1.\xC3", 5);
    const std::string whole = outcome(text, kWhole);
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{8}})
      ASSERT_EQ(outcome(text, chunk), whole) << chunk << "\n" << text;
    for (size_t block : {size_t{1}, size_t{2}, size_t{5}})
      ASSERT_EQ(outcome(text, 0, ',', nullptr, block), whole) << "block " << block << "\n" << text;
  }
}

TEST(CsvBlocks, FileReadInBlocks) {
  // A late text column is read back from the file; blocks and parts at once.
  std::mt19937 rng(5);
  const std::string text = generated(rng, 3000, "\r\n", true);
  const std::string path =
      (std::filesystem::temp_directory_path() / "qv_csvpar_blocks.csv").string();
  std::ofstream(path, std::ios::binary) << text;
  const std::string whole = outcome(text, kWhole);
  for (auto [chunk, block] : {std::pair<size_t, size_t>{0, 1000}, {0, 1}, {700, 4096}}) {
    CsvSettings s;
    s.chunkBytes = chunk;
    s.blockBytes = block;
    std::string out;
    std::string e = errorOf([&] { out = dump(readDelimitedFile(path, s, {})); });
    EXPECT_EQ(e.empty() ? out : "error: " + e, whole) << "chunk " << chunk << ", block " << block;
  }

  // The file changes under the reader before the text is read back: cut
  // short, or of the same size with a line end moved.
  std::string moved = text;
  moved[moved.find("\r\n", 100)] = ',';
  for (const std::string& changed : {text.substr(0, text.size() / 2), moved}) {
    CsvSettings s;
    s.blockBytes = 1000;
    s.onBlock = [&](uint64_t done) {
      if (done > text.size() / 2 && done <= text.size() / 2 + 1000)
        std::ofstream(path, std::ios::binary) << changed;
    };
    const std::string e = errorOf([&] { readDelimitedFile(path, s, {}); });
    EXPECT_NE(e.find(path + ": it changed while it was read"), std::string::npos) << e;
    std::ofstream(path, std::ios::binary) << text;
  }
  std::filesystem::remove(path);
}

TEST(CsvBlocks, NumbersAsTheGeneralRule) {
  // Every digit count before and after the point, up to the most the
  // quick way takes and past it, before a delimiter, a line end and the
  // end of the data: the reader's quick way for plain decimals gives the
  // general rule's values, bit for bit.
  std::mt19937 rng(3);
  std::vector<std::string> cells;
  for (int whole = 0; whole <= 20; ++whole)
    for (int frac = -1; frac <= 20; ++frac)
      for (const char* sign : {"", "-"}) {
        std::string c = sign;
        for (int i = 0; i < whole; ++i) c += static_cast<char>('0' + rng() % 10);
        if (frac >= 0) c += '.';
        for (int i = 0; i < frac; ++i) c += static_cast<char>('0' + rng() % 10);
        if (whole + frac > 0) cells.push_back(c);
      }
  for (const char* c : {"9007199254740993", "12345678901234567890", "1e5", "+3", " 4 ", ".", ""})
    cells.push_back(c);
  std::string text = "v,w\n";
  for (const std::string& c : cells) text += c + "," + c + "\n";
  text.pop_back();
  for (size_t block : {size_t{0}, size_t{1}, size_t{4096}}) {
    const Table t = parse(text, 0, ',', nullptr, block);
    ASSERT_EQ(t.rows, cells.size());
    for (size_t col : {0, 1}) {
      ASSERT_TRUE(t.columns[col].numeric());
      for (size_t r = 0; r < cells.size(); ++r) {
        double want;
        ASSERT_TRUE(cellNumber(cells[r], &want)) << cells[r];
        const double got = t.columns[col].num[r];
        EXPECT_TRUE(std::memcmp(&got, &want, 8) == 0 || (std::isnan(want) && std::isnan(got)))
            << cells[r] << ", block " << block << ", column " << col;
      }
    }
  }
}
