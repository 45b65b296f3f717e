#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/objects/objects.h"
#include "testutil.h"

namespace qv::rt {
namespace {

using host::Value;

std::string readAll(const host::Stream& s) {
  std::string out(static_cast<size_t>(s.length()), '\0');
  int64_t n = s.read(out.data(), out.size());
  EXPECT_EQ(n, static_cast<int64_t>(out.size()));
  return out;
}

TEST(Streams, MemoryRoundTrip) {
  MemoryStream s;
  EXPECT_NE(s.write("early"), host::kOk) << "writing before open";
  ASSERT_EQ(s.open(true), host::kOk);
  ASSERT_EQ(s.write("define statgraph tavlo;"), host::kOk);
  ASSERT_EQ(s.write("begin\0graph", 11), host::kOk);  // explicit length, NUL kept
  ASSERT_EQ(s.write(nullptr, 0), host::kOk);
  EXPECT_EQ(s.length(), 34);
  EXPECT_EQ(readAll(s), std::string("define statgraph tavlo;begin\0graph", 34));
  char small[6];
  EXPECT_EQ(s.read(small, sizeof small), 6);
  EXPECT_EQ(std::string(small, 6), "define");
  ASSERT_EQ(s.close(), host::kOk);
  EXPECT_NE(s.write("x"), host::kOk) << "writing after close";
  EXPECT_EQ(s.length(), 34) << "closing keeps the text";
  ASSERT_EQ(s.open(false), host::kOk);
  EXPECT_NE(s.write("x"), host::kOk) << "opened for input";
  ASSERT_EQ(s.open(true), host::kOk);
  EXPECT_EQ(s.length(), 0) << "opening for output starts afresh";
}

TEST(Streams, FlatFileRoundTrip) {
  testing::TempDir tmp;
  ASSERT_FALSE(tmp.path().empty());
  auto path = tmp.path() / "tavlo.tmpl";
  {
    std::ofstream old(path);
    old << "an older and much longer content that must go away";
  }
  FlatFileStream f(path.string());
  EXPECT_EQ(f.className(), "stream_flatfile");
  ASSERT_EQ(f.open(true), host::kOk);
  ASSERT_EQ(f.write("proc template;\n"), host::kOk);
  ASSERT_EQ(f.write("run;\n"), host::kOk);
  EXPECT_EQ(f.length(), 20);
  EXPECT_EQ(readAll(f), "proc template;\nrun;\n") << "readable while open";
  ASSERT_EQ(f.close(), host::kOk);
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "proc template;\nrun;\n");

  FlatFileStream again(path.string());
  ASSERT_EQ(again.open(false), host::kOk);
  EXPECT_NE(again.write("x"), host::kOk);
  EXPECT_EQ(readAll(again), "proc template;\nrun;\n");
  EXPECT_EQ(again.close(), host::kOk);
  EXPECT_EQ(again.close(), host::kOk) << "closing twice is harmless";

  FlatFileStream missing((tmp.path() / "none.txt").string());
  EXPECT_NE(missing.open(false), host::kOk);
}

TEST(Streams, FlatFileFailures) {
  testing::TempDir tmp;
  ASSERT_FALSE(tmp.path().empty());
  // A path below a plain file cannot be created, whoever runs the test.
  auto plain = tmp.path() / "plain";
  std::ofstream(plain) << "x";
  FlatFileStream bad((plain / "out.tmpl").string());
  EXPECT_NE(bad.open(true), host::kOk);
  EXPECT_FALSE(bad.lastError().empty());
  EXPECT_NE(bad.write("x"), host::kOk);
  EXPECT_EQ(bad.close(), host::kOk);

  // Only a regular file is written, and never through a link: a device,
  // a FIFO or a link found at the name is refused and left as it is.
  auto target = tmp.path() / "target.txt";
  std::ofstream(target) << "keep";
  auto link = tmp.path() / "link.tmpl";
  std::filesystem::create_symlink(target, link);
  for (const std::string& p : {std::string("/dev/full"), link.string()}) {
    FlatFileStream refused(p);
    EXPECT_NE(refused.open(true), host::kOk) << p;
    EXPECT_NE(refused.lastError().find("it is a"), std::string::npos) << refused.lastError();
  }

  // A stream that is not closed (the step failed half way) leaves the old
  // file whole and no temporary file beside it.
  {
    FlatFileStream half(target.string());
    ASSERT_EQ(half.open(true), host::kOk);
    ASSERT_EQ(half.write("half a template"), host::kOk);
  }
  std::ifstream in(target);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "keep");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()),
                          std::filesystem::directory_iterator()),
            3);
}

TEST(Collections, ListValues) {
  ListImpl l;
  EXPECT_EQ(l.append(10.0), host::kOk);
  EXPECT_EQ(l.append(std::string("CX0000FF")), host::kOk);
  ASSERT_EQ(l.size(), 2u);
  EXPECT_TRUE(l.contains(std::string("CX0000FF")));
  EXPECT_FALSE(l.contains(std::string("CX0000fF")));
  EXPECT_FALSE(l.contains(20.0));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(l.at(99)));
  l.clear();
  EXPECT_FALSE(l.contains(10.0));
}

TEST(Collections, AssocArrayOrderAndLookup) {
  AssocArrayImpl a;
  EXPECT_EQ(a.put("SCATTER", std::string("<Group>")), host::kOk);
  EXPECT_EQ(a.put("CHOROMAP", std::string("<Empty>")), host::kOk);
  EXPECT_EQ(a.put("SERIES", 1.0), host::kOk);
  EXPECT_EQ(a.put("SCATTER", std::string("<Empty>")), host::kOk);  // overwrite
  EXPECT_EQ(a.put(std::string("a\0b", 3), 2.0), host::kOk);
  EXPECT_EQ(a.put("a", 3.0), host::kOk);
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a.keyAt(0), "SCATTER") << "an overwritten key keeps its place";
  EXPECT_EQ(std::get<std::string>(a.valueAt(0)), "<Empty>");
  EXPECT_EQ(a.keyAt(1), "CHOROMAP");
  EXPECT_EQ(a.keyAt(2), "SERIES");
  EXPECT_EQ(a.keyAt(3), std::string_view("a\0b", 3));
  EXPECT_EQ(a.keyAt(4), "a");
  EXPECT_EQ(std::get<double>(*a.get(std::string("a\0b", 3))), 2.0);
  EXPECT_EQ(std::get<double>(*a.get("a")), 3.0);
  EXPECT_EQ(a.get("scatter"), nullptr) << "keys compare by exact text";
  EXPECT_EQ(a.keyAt(5), "");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(a.valueAt(5)));

  // Many keys, short and long: the index must survive the entries growing.
  for (int i = 0; i < 5000; ++i) {
    std::string k = (i % 2 ? "k" : std::string(40, 'L')) + std::to_string(i);
    ASSERT_EQ(a.put(k, static_cast<double>(i)), host::kOk);
  }
  ASSERT_EQ(a.size(), 5005u);
  for (int i = 0; i < 5000; ++i) {
    std::string k = (i % 2 ? "k" : std::string(40, 'L')) + std::to_string(i);
    const Value* v = a.get(k);
    ASSERT_NE(v, nullptr) << k;
    EXPECT_EQ(std::get<double>(*v), i);
    EXPECT_EQ(a.keyAt(5 + i), k);
  }
  a.clear();
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.get("SERIES"), nullptr);
  EXPECT_EQ(a.put("SERIES", 4.0), host::kOk);
  EXPECT_EQ(a.keyAt(0), "SERIES");
}

TEST(Collections, DataObjectColumns) {
  DataObjectImpl d;
  int fakeDs = 0;
  auto* ds = reinterpret_cast<host::DataSet*>(&fakeDs);
  EXPECT_EQ(d.setDataSet(ds, "PLOTDATA"), host::kOk);
  EXPECT_EQ(d.name(), "PLOTDATA");
  EXPECT_EQ(d.dataSet(), ds);
  EXPECT_EQ(d.addColumn("lon"), host::kOk);
  EXPECT_EQ(d.addColumn("lat"), host::kOk);
  EXPECT_EQ(d.addColumn("LON"), host::kOk);
  EXPECT_NE(d.addColumn(""), host::kOk);
  EXPECT_EQ(d.columns(), (std::vector<std::string>{"lon", "lat"}));
  EXPECT_EQ(d.finish(), host::kOk);
  EXPECT_NE(d.addColumn("pop"), host::kOk);
  EXPECT_EQ(d.columns().size(), 2u);
}

TEST(StringPool, Interning) {
  StringPool pool;
  std::string a1 = "__MAP__", a2 = "__MAP__";
  const host::HStr* h1 = pool.intern(a1);
  const host::HStr* h2 = pool.intern(a2.c_str(), -1);
  const host::HStr* h3 = pool.intern("__MAP__X", 7);
  EXPECT_EQ(h1, h2);
  EXPECT_EQ(h1, h3);
  EXPECT_NE(pool.intern("__map__"), h1);

  // Embedded NUL: the whole length counts.
  const host::HStr* n1 = pool.intern(std::string_view("ab\0c", 4));
  const host::HStr* n2 = pool.intern("ab\0d", 4);
  const host::HStr* n3 = pool.intern("ab\0c", -1);
  EXPECT_NE(n1, n2);
  EXPECT_NE(n1, n3);
  EXPECT_EQ(StringPool::text(n1), std::string_view("ab\0c", 4));
  EXPECT_EQ(StringPool::text(n3), "ab");
  EXPECT_EQ(pool.intern("ab", 2), n3);

  const host::HStr* empty = pool.intern("", 0);
  EXPECT_EQ(pool.intern(nullptr, 0), empty);
  EXPECT_EQ(pool.intern(nullptr, -1), empty);
  EXPECT_EQ(pool.intern(nullptr, 3), nullptr);
  EXPECT_EQ(pool.intern("abc", -2), nullptr);
  EXPECT_EQ(StringPool::text(nullptr), "");

  // Handles and their texts stay put while the pool grows.
  std::string longText(1000, 'z');
  const host::HStr* big = pool.intern(longText);
  std::string_view bigText = StringPool::text(big);
  for (int i = 0; i < 20000; ++i) pool.intern("t" + std::to_string(i));
  EXPECT_EQ(pool.intern(longText), big);
  EXPECT_EQ(StringPool::text(big).data(), bigText.data());
  EXPECT_EQ(pool.intern("__MAP__"), h1);
  EXPECT_EQ(StringPool::text(h1), "__MAP__");
  EXPECT_EQ(pool.intern("t19999"), pool.intern(std::string("t19999")));

  size_t before = pool.size();
  pool.intern("t5");
  EXPECT_EQ(pool.size(), before);
  pool.clear();
  EXPECT_EQ(pool.size(), 0u);
  EXPECT_EQ(StringPool::text(pool.intern("__MAP__")), "__MAP__");
}

TEST(Factory, CreatesKnownClassesAndCountsLiveObjects) {
  testing::TempDir tmp;
  ObjectFactoryImpl f;
  std::string path = (tmp.path() / "t.txt").string();
  // (namespace, class, argument, class name of the object made)
  const char* wants[][4] = {
      {"kdl", "stream_memory", "", "stream_memory"},
      {"", "stream_memory", "", "stream_memory"},  // any namespace
      {"kdl", "stream_flatfile", path.c_str(), "stream_flatfile"},
      {"collection", "LIST", "", "list"},  // any letter case
  };
  std::vector<host::Object*> made;
  for (auto& w : wants) {
    host::Object* o = f.create(w[0], w[1], w[2]);
    ASSERT_NE(o, nullptr) << w[1];
    EXPECT_EQ(o->className(), w[3]);
    made.push_back(o);
  }
  EXPECT_NE(dynamic_cast<host::Stream*>(made[2]), nullptr);
  EXPECT_EQ(f.liveObjects(), made.size());

  EXPECT_EQ(f.create("proc", "template"), nullptr);
  EXPECT_EQ(f.create("", "nosuchclass"), nullptr);
  EXPECT_EQ(f.create("kdl", "stream_flatfile", ""), nullptr);
  EXPECT_EQ(f.liveObjects(), made.size());

  f.release(made[0]);
  f.release(nullptr);
  MemoryStream foreign;
  f.release(&foreign);  // not ours: left alone
  EXPECT_EQ(f.liveObjects(), made.size() - 1);
  EXPECT_FALSE(f.owns(made[0]));
  EXPECT_TRUE(f.owns(made[1]));

  // A class supplied by another part of the runtime.
  f.registerClass("template", [](std::string_view arg) {
    return std::make_unique<GenericObject>("template:" + std::string(arg));
  });
  host::Object* t = f.create("proc", "Template", "tavlo");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->className(), "template:tavlo");

  f.releaseAll();
  EXPECT_EQ(f.liveObjects(), 0u);
}

TEST(Factory, ReleasesLeftoversWhenGone) {
  // An object whose destruction is visible, made through a registered class.
  struct Probe : host::Object {
    int* alive;
    explicit Probe(int* a) : alive(a) { ++*alive; }
    ~Probe() override { --*alive; }
    std::string_view className() const override { return "probe"; }
  };
  int alive = 0;
  {
    ObjectFactoryImpl f;
    f.registerClass("probe", [&](std::string_view) { return std::make_unique<Probe>(&alive); });
    host::Object* a = f.create("", "probe");
    f.create("", "probe");
    f.create("", "probe");
    EXPECT_EQ(alive, 3);
    f.release(a);
    EXPECT_EQ(alive, 2);
    EXPECT_EQ(f.liveObjects(), 2u);
  }
  EXPECT_EQ(alive, 0);
}

TEST(Memory, BlocksAndInjectedFailure) {
  MemoryService m;
  void* a = m.alloc(16);
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(static_cast<unsigned char*>(a)[i], 0) << "zero-filled";
  void* z = m.alloc(0);
  EXPECT_NE(z, nullptr);
  EXPECT_EQ(m.liveBlocks(), 2u);

  m.failAfter(3);
  void* b1 = m.alloc(8);
  void* b2 = m.alloc(8);
  void* b3 = m.alloc(8);
  void* b4 = m.alloc(8);
  EXPECT_NE(b1, nullptr);
  EXPECT_NE(b2, nullptr);
  EXPECT_EQ(b3, nullptr) << "the third allocation from now fails";
  EXPECT_NE(b4, nullptr) << "only once";
  EXPECT_EQ(m.failures(), 1);
  EXPECT_EQ(m.liveBlocks(), 5u);

  m.failAfter(1);
  m.failAfter(0);  // turned off again
  void* c = m.alloc(8);
  EXPECT_NE(c, nullptr);

  int notOurs = 0;
  m.free(&notOurs);
  m.free(nullptr);
  for (void* p : {a, z, b1, b2, b4, c}) m.free(p);
  m.free(a);  // a second free of the same block is ignored
  EXPECT_EQ(m.liveBlocks(), 0u);

  long n = 0;
  EXPECT_TRUE(MemoryService::parseFailAfter("12", &n));
  EXPECT_EQ(n, 12);
  for (const char* bad : {"", "0", "-3", "12x", " 5", "+5", "99999999999999999999999"}) {
    long keep = 7;
    EXPECT_FALSE(MemoryService::parseFailAfter(bad, &keep)) << bad;
    EXPECT_EQ(keep, 7);
  }
}

TEST(Memory, FailsTheFirstLargeBlockOnce) {
  MemoryService m;
  m.failAtLeast(1000);
  void* small = m.alloc(999);
  void* big = m.alloc(4096);
  void* again = m.alloc(4096);
  EXPECT_NE(small, nullptr) << "smaller blocks are served";
  EXPECT_EQ(big, nullptr);
  EXPECT_NE(again, nullptr) << "only the first large block fails";
  EXPECT_EQ(m.failures(), 1);
  m.free(small);
  m.free(again);
  EXPECT_EQ(m.liveBlocks(), 0u);
}

}  // namespace
}  // namespace qv::rt
