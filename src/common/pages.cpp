#include "common/pages.h"

#include <dirent.h>

#include <fstream>
#include <string>

namespace qv {

namespace {

// The chosen word of a kernel setting shown as "a [b] c".
std::string chosenSetting(const char* path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  const size_t open = text.find('['), close = text.find(']');
  return open != std::string::npos && close > open ? text.substr(open + 1, close - open - 1) : "";
}

// Whether a virtio balloon reports free memory to the hypervisor (feature
// bit 5, VIRTIO_BALLOON_F_REPORTING, in the device's feature string).
bool freeMemoryReported() {
  const std::string driver = "/sys/bus/virtio/drivers/virtio_balloon";
  DIR* dir = ::opendir(driver.c_str());
  if (!dir) return false;
  bool reported = false;
  while (const dirent* e = ::readdir(dir)) {
    if (std::string(e->d_name).rfind("virtio", 0) != 0) continue;
    std::ifstream in(driver + "/" + e->d_name + "/features");
    std::string bits;
    std::getline(in, bits);
    reported = reported || (bits.size() > 5 && bits[5] == '1');
  }
  ::closedir(dir);
  return reported;
}

}  // namespace

bool hugePagesPay() {
  static const bool pay = [] {
    const std::string defrag = chosenSetting("/sys/kernel/mm/transparent_hugepage/defrag");
    return (defrag == "defer" || defrag == "never") && !freeMemoryReported();
  }();
  return pay;
}

}  // namespace qv
