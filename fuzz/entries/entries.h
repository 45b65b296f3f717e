// The entry points of the fuzz targets (fuzz/<target>.cpp).
// Each takes arbitrary bytes, feeds them to one reader or parser and returns
// 0. Malformed input must end in qv::UserError (caught here) or a
// non-zero status; anything else (a crash, a sanitizer report, another
// exception escaping) is a fault.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::fuzz {

// Caps on what one input may be, so a run spends its time on variety.
constexpr size_t kMaxText = 64 * 1024;
constexpr size_t kMaxData = 1024 * 1024;

int programReader(const uint8_t* data, size_t size);
int whereExpr(const uint8_t* data, size_t size);
int color(const uint8_t* data, size_t size);
int delimited(const uint8_t* data, size_t size);
int geoData(const uint8_t* data, size_t size);
int templateCompiler(const uint8_t* data, size_t size);
int tileImage(const uint8_t* data, size_t size);
int wholeStep(const uint8_t* data, size_t size);

}  // namespace qv::fuzz
