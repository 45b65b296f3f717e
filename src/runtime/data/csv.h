// Reader of delimited text files (CSV and TSV).
//
// The first record names the variables. Quotes follow RFC 4180 (doubled
// quotes inside, line ends inside quotes); lines end with LF, CRLF or CR; a
// UTF-8 byte order mark is skipped; the whole file must be valid UTF-8. A
// column is numeric when every non-empty cell other than "." is a decimal
// number; otherwise it is character and as wide as its longest value.
//
// A buffer can be read on all cores: it is cut after line ends into parts
// of about `chunkBytes`, each part is read into columns of its own, and the
// parts are joined. A cut that falls inside a quoted value is found (the
// part before it ends elsewhere) and that part is read again. Types, widths,
// values and the first error are those of a read in one part.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/data/filebuf.h"
#include "runtime/data/schema.h"
#include "runtime/data/table.h"

namespace qv::rt {

struct CsvSettings {
  char delimiter = ',';
  VarNameRule names = VarNameRule::Strict;
  Schema* schema = nullptr;  // declared types, labels and formats (may be null)
  // Bytes per part; 0, or a size larger than the buffer, reads it whole.
  // Reading in parts is not yet faster than one read on two cores (the
  // parts cost more in joining than they save), so it is not the default.
  size_t chunkBytes = 0;
};

// Parses a whole file held in `buffer`. `file` names the input in messages.
// Malformed input: UserError naming the file and the line.
Table parseDelimited(const TextBuffer& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note);
// The same, freeing the buffer before the parts are joined (less memory at
// the peak).
Table parseDelimited(TextBuffer&& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note);

// Reads a file and its schema sidecar (when there is one). For
// benchmarks, the environment variable QORTAVLO_CSV_CHUNK_BYTES sets the
// bytes per part (bench/csv_bench.sh compares reading in parts with one
// read).
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
