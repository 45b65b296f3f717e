// Reader of delimited text files (CSV and TSV).
//
// The first record names the variables. Quotes follow RFC 4180 (doubled
// quotes inside, line ends inside quotes); lines end with LF, CRLF or CR; a
// UTF-8 byte order mark is skipped; the whole file must be valid UTF-8. A
// column is numeric when every non-empty cell other than "." is a decimal
// number; otherwise it is character and as wide as its longest value.
//
// A file is read in blocks of `blockBytes` into one reused buffer, never
// whole: the complete records of each block go into the columns and an
// unfinished last record is kept for the next block. When a column turns
// out character after earlier blocks were read as numbers, the texts of its
// earlier cells are read from the file again; a file that changed
// meanwhile is an error.
//
// A block can be read on all cores: it is cut after line ends into parts
// of about `chunkBytes`, each part is read into columns of its own, and the
// parts are joined. A cut that falls inside a quoted value is found (the
// part before it ends elsewhere) and that part is read again. Types, widths,
// values and the first error are those of a read in one part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/filebuf.h"
#include "runtime/data/schema.h"
#include "runtime/data/table.h"

namespace qv::rt {

struct CsvSettings {
  char delimiter = ',';
  VarNameRule names = VarNameRule::Strict;
  Schema* schema = nullptr;  // declared types, labels and formats (may be null)
  // Bytes per part of a block; 0, or a size larger than the block, reads
  // it as one part.
  size_t chunkBytes = 0;
  // Bytes read at a time; 0 is 1 MB for a file (small blocks stay in the
  // cache while they are read; larger ones measured no faster) and the
  // whole buffer for one in memory.
  size_t blockBytes = 0;
  // Called with the bytes read so far after each block is read (tests
  // change the file under the reader with it).
  std::function<void(uint64_t)> onBlock;
};

// Parses a whole file held in `buffer` (read as one block unless
// `blockBytes` is set). `file` names the input in messages.
// Malformed input: UserError naming the file and the line.
Table parseDelimited(const TextBuffer& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note);
// The same, freeing the buffer before the parts are joined (less memory at
// the peak).
Table parseDelimited(TextBuffer&& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note);

// Reads a file with the given settings (the schema sidecar is not looked
// for).
Table readDelimitedFile(const std::string& path, const CsvSettings& settings, const NoteFn& note);

// Reads a file and its schema sidecar (when there is one). A file of more
// than 4 MB is read in blocks of 8 MB, each cut into one part per core; a
// smaller one in one part. For benchmarks, the environment variables
// QORTAVLO_CSV_CHUNK_BYTES and QORTAVLO_CSV_BLOCK_BYTES, when set, give the
// bytes per part and per block (0: the settings' defaults; bench/
// csv_bench.sh compares ways).
Table readDelimitedFile(const std::string& path, char delimiter, VarNameRule names,
                        const NoteFn& note);

// The value of a cell under the numeric-column rule: true with the number
// for a decimal number (optional sign, digits, point, exponent; blanks
// around allowed), true with NaN (missing) for an empty cell or ".", false
// for anything else (hexadecimal, inf, nan, a value too large for a double).
bool cellNumber(std::string_view text, double* value);

// Checks that bytes are valid UTF-8; the byte offset of the first bad byte,
// or `size` when all are good.
size_t findInvalidUtf8(const unsigned char* data, size_t size);

}  // namespace qv::rt
