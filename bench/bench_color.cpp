// Color lookups through process_color: one text repeated, and 1,000
// distinct texts in rotation (with the cache's index, and with the list
// walk alone). Prints the rate of each.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "../tests/unit/color/color_test_host.h"
#include "module/color/color.h"
#include "module/entry/entry.h"

namespace {

constexpr int kLookups = 1000000;

double lookupsPerSecond(const std::vector<std::string>& texts, int lookups) {
  char out[8];
  unsigned sink = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < lookups; ++i) {
    const std::string& t = texts[static_cast<size_t>(i) % texts.size()];
    qv::module::process_color(t.data(), static_cast<int32_t>(t.size()), out);
    sink += static_cast<unsigned char>(out[7]);
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (sink == 1) std::puts("");  // keeps the loop from being optimised away
  return lookups / seconds;
}

}  // namespace

int main() {
  std::vector<std::string> repeated = {"LIGHT GRAYISH BLUE"};
  std::vector<std::string> distinct;
  for (int i = 0; i < 1000; ++i) {
    char buf[32];
    if (i % 2)
      std::snprintf(buf, sizeof buf, "cx%06x", i * 4099);
    else
      std::snprintf(buf, sizeof buf, "Light Blue %d", i);
    distinct.push_back(buf);
  }

  {
    qv::test::ColorTestHost host;
    qv::module::mcn_main(&host, nullptr);
    std::printf("repeated text:              %12.0f lookups/s\n",
                lookupsPerSecond(repeated, kLookups));
    std::printf("1,000 texts in rotation:    %12.0f lookups/s\n",
                lookupsPerSecond(distinct, kLookups));
    host.endSession();
  }
  {
    // Index blocks cannot be had: the list walk answers alone.
    qv::test::ColorTestHost host;
    host.failFromSize = 512;
    qv::module::mcn_main(&host, nullptr);
    std::printf("1,000 texts, list walk only:%12.0f lookups/s\n",
                lookupsPerSecond(distinct, kLookups / 20));
    host.endSession();
  }
  qv::module::mcn_main(nullptr, nullptr);
  return 0;
}
