#include "module/template/handoff.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/platform.h"
#include "fake_host.h"
#include "runtime/objects/objects.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

class Handoff : public testing::Test {
 protected:
  void SetUp() override { h.install(); }
  FakeHost h;
};

TEST_F(Handoff, RendererPlatforms) {
  struct Case {
    const char* scp;
    const char* scpl;
    int valid;
  };
  for (Case c : {Case{"LIN X64", nullptr, 1}, Case{"LX POWER", nullptr, 1},
                 Case{"LIN X64  ", nullptr, 1}, Case{"WIN", "X64_10PRO", 1},
                 Case{"WIN", "W64_SRV", 1}, Case{"WIN", "X86_10", 0}, Case{"WIN", nullptr, 0},
                 Case{"OS2", nullptr, 0}, Case{"lin x64", nullptr, 0},
                 Case{"LIN X64X", nullptr, 0}, Case{nullptr, nullptr, 0}}) {
    FakeHost fresh;
    fresh.install();
    if (c.scp) fresh.setMacro("SYSSCP", c.scp);
    if (c.scpl) fresh.setMacro("SYSSCPL", c.scpl);
    EXPECT_EQ(module::validCRenderPlatform(), c.valid) << (c.scp ? c.scp : "(none)");
  }
  // The machine this program was built for is one the renderer runs on; the
  // host reports 64-bit ARM as "LIN A64", and accepts it on an ARM build.
  FakeHost built;
  built.install();
  built.setMacro("SYSSCP", qv::builtSysscp());
  EXPECT_EQ(module::validCRenderPlatform(), 1) << qv::builtSysscp();
  const std::pair<const char*, const char*> machines[] = {
      {"x86_64", "LIN X64"}, {"aarch64", "LIN A64"}, {"arm64", "LIN A64"},
      {"ppc64le", "LX POWER"}, {"armv7l", "LIN ARM"}, {"i686", "LIN X86"},
      {"riscv64", "LIN RISCV64"}};
  for (auto [machine, sysscp] : machines) EXPECT_EQ(qv::sysscpOf(machine), sysscp) << machine;
}

TEST_F(Handoff, DebugListNamesTheModuleAsAWord) {
  for (auto [text, named] : {std::pair{"QORTAVLO", true}, std::pair{"syn,qortavlo sem", true},
                             std::pair{"", false}, std::pair{"QORTAVLOX", false},
                             std::pair{"XQORTAVLO", false}, std::pair{"qortav", false}}) {
    h.setTextOption("DEBUG", text);
    EXPECT_EQ(module::zbugi("qortavlo"), named) << text;
  }
}

TEST_F(Handoff, OutputFormatsReplacedAndPutBack) {
  struct Case {
    const char* format;
    bool replaced;
    bool noted;
  };
  for (Case c : {Case{"PDF", true, true}, Case{"SVG", true, true}, Case{"EMF", true, true},
                 Case{"PDFA", true, false}, Case{"EMFPLUS", true, false},
                 Case{"STATIC", true, false}, Case{"PNG", false, false},
                 Case{"SVGZ", false, false}, Case{"JPEG", false, false}}) {
    h.messages.clear();
    h.outputFormat() = c.format;
    module::RendererSettings saved;
    module::adjustRendererSettings(&saved);
    EXPECT_EQ(h.outputFormat(), c.replaced ? "PNG" : c.format) << c.format;
    ASSERT_EQ(h.messages.size(), c.noted ? 1u : 0u) << c.format;
    if (c.noted) {
      EXPECT_EQ(h.messages[0].number, 207);
      EXPECT_EQ(h.messages[0].args, std::vector<std::string>{c.format});
    }
    module::restoreRendererSettings(&saved);
    EXPECT_EQ(h.outputFormat(), c.format);
    h.outputFormat() = "GIF";  // a second restore changes nothing
    module::restoreRendererSettings(&saved);
    EXPECT_EQ(h.outputFormat(), "GIF");
  }
  module::RendererSettings never;  // nothing saved: nothing to put back
  module::restoreRendererSettings(&never);
  EXPECT_EQ(h.outputFormat(), "GIF");
}

class TemplateFile : public Handoff {
 protected:
  void SetUp() override {
    Handoff::SetUp();
    dir = fs::temp_directory_path() / ("qv_tmplout_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  host::Status write(const std::string& file, const std::string& text) {
    path = (dir / file).string();
    return module::generate_source(&factory, int(path.size()), path.c_str(), text.data(),
                                   int64_t(text.size()));
  }
  std::string contents() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path dir;
  std::string path;
  rt::ObjectFactoryImpl factory;
};

TEST_F(TemplateFile, OneStatementPerLineIndentedByLayout) {
  EXPECT_EQ(write("t.tav",
                  "define statgraph tavlo;begingraph /;EntryTitle \"a; end; layout b\";"
                  "layout overlaymap / pad=(top=5);ScatterPlot x=a y=b;layout inner;Text;"
                  "endlayout;endlayout;layout GlobalLegend;DiscreteLegend \"s\";endlayout;"
                  "endgraph;end;trailing;"),
            0);
  EXPECT_EQ(contents(),
            "proc template;\n"
            "define statgraph tavlo;\n"
            "begingraph /;\n"
            "EntryTitle \"a; end; layout b\";\n"
            "layout overlaymap / pad=(top=5);\n"
            "   ScatterPlot x=a y=b;\n"
            "   layout inner;\n"
            "      Text;\n"
            "   endlayout;\n"
            "endlayout;\n"
            "layout GlobalLegend;\n"
            "   DiscreteLegend \"s\";\n"
            "endlayout;\n"
            "endgraph;\n"
            "end;\n"
            "run;\n");
  EXPECT_TRUE(h.messages.empty());
  EXPECT_EQ(factory.liveObjects(), 0u);
}

// A file that cannot be written is a case of the command's tests.
TEST_F(TemplateFile, FailuresAreReported) {
  EXPECT_NE(write("no/such/folder/t.tav", "end;"), 0);
  EXPECT_EQ(factory.liveObjects(), 0u);
  h.messages.clear();
  EXPECT_NE(module::generate_source(nullptr, 5, "t.tav", "end;", 4), 0);
  EXPECT_NE(module::generate_source(&factory, 0, "", "end;", 4), 0);
  EXPECT_EQ(h.messages.size(), 2u);
}

}  // namespace
}  // namespace qv::test
