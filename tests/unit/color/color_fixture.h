// Installs a fresh ColorTestHost (a new host session) for each test and
// checks at the end that the session's cleanup returned every block.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "color_test_host.h"
#include "module/color/color.h"
#include "module/entry/entry.h"

namespace qv::test {

class ColorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<ColorTestHost>();
    module::mcn_main(host_.get(), nullptr);
  }
  void TearDown() override {
    host_->failAll = false;
    host_->endSession();
    EXPECT_EQ(host_->liveBlocks(), 0u) << "the cache cleanup left blocks behind";
  }

  // The template color text of a color as the user wrote it.
  static std::string color(std::string_view text) {
    char out[8];
    module::process_color(text.data(), static_cast<int32_t>(text.size()), out);
    return std::string(out, 8);
  }
  static int32_t form(std::string_view text, module::ColorValue* v = nullptr) {
    return module::ggcolor(text.data(), static_cast<int32_t>(text.size()), v);
  }
  static std::string rgbText(uint8_t r, uint8_t g, uint8_t b) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "CX%02X%02X%02X", r, g, b);
    return buf;
  }

  std::unique_ptr<ColorTestHost> host_;
};

}  // namespace qv::test
