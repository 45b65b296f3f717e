// The runtime's named objects: memory and flat-file streams, lists,
// associative arrays, data objects, interned host strings, the object
// factory that makes them, and the memory service behind vmalcp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "module/host/host.h"

namespace qv::rt {

// Status of a stream operation that cannot be done in the stream's state
// (writing before open, writing to a stream opened for input).
inline constexpr host::Status kStreamNotOpen = host::kHostFailure;
// Status of a failed read or write of a file.
inline constexpr host::Status kIoFailure = host::kHostFailure;

// --- Streams ----------------------------------------------------------------

// "stream_memory": text kept in memory. Opening for output empties it;
// opening for input keeps what was written.
class MemoryStream final : public host::Stream {
 public:
  std::string_view className() const override { return "stream_memory"; }
  host::Status open(bool forOutput) override;
  using host::Stream::write;
  host::Status write(const char* bytes, size_t length) override;
  int64_t length() const override { return static_cast<int64_t>(data_.size()); }
  int64_t read(char* out, size_t capacity) const override;
  host::Status close() override;

  const std::string& text() const { return data_; }

 private:
  std::string data_;
  bool open_ = false;
  bool output_ = false;
};

// "stream_flatfile": a file on `path`. Opening for output creates or
// truncates the file; a failed write makes the write and close() answer a
// non-zero status.
class FlatFileStream final : public host::Stream {
 public:
  explicit FlatFileStream(std::string path) : path_(std::move(path)) {}
  ~FlatFileStream() override;
  std::string_view className() const override { return "stream_flatfile"; }
  host::Status open(bool forOutput) override;
  using host::Stream::write;
  host::Status write(const char* bytes, size_t length) override;
  int64_t length() const override;
  int64_t read(char* out, size_t capacity) const override;
  host::Status close() override;

  const std::string& path() const { return path_; }
  // The system's reason for the last failure ("" when none).
  const std::string& lastError() const { return lastError_; }
  // Called with that reason when opening, writing or closing fails.
  void onFailure(std::function<void(const std::string&)> f) { onFailure_ = std::move(f); }
  // Called when a file written whole has taken its place.
  void onWritten(std::function<void()> f) { onWritten_ = std::move(f); }

 private:
  std::string path_;
  std::string tmpPath_;  // while writing: the new file, renamed on close
  std::FILE* file_ = nullptr;
  bool output_ = false;
  bool failed_ = false;  // a write failed since open
  int64_t written_ = 0;
  std::string lastError_;
  std::function<void(const std::string&)> onFailure_;
  std::function<void()> onWritten_;
  host::Status failed(host::Status s);  // tells onFailure_ once per open
  bool told_ = false;
};

// --- Collections ------------------------------------------------------------

// "collection"/"list".
class ListImpl final : public host::List {
 public:
  std::string_view className() const override { return "list"; }
  host::Status append(const host::Value& v) override;
  size_t size() const override { return items_.size(); }
  // Out of range gives an empty value.
  const host::Value& at(size_t i) const override;
  bool contains(const host::Value& v) const override;
  void clear() override { items_.clear(); }

 private:
  std::vector<host::Value> items_;
};

// "collection"/"associativearray": insertion-ordered entries with a hash
// index on the key; overwriting a key keeps its place.
class AssocArrayImpl final : public host::AssocArray {
 public:
  std::string_view className() const override { return "associativearray"; }
  host::Status put(std::string_view key, const host::Value& v) override;
  const host::Value* get(std::string_view key) const override;
  size_t size() const override { return entries_.size(); }
  // Out of range gives "" and an empty value.
  std::string_view keyAt(size_t i) const override;
  const host::Value& valueAt(size_t i) const override;
  void clear() override;

 private:
  struct Entry {
    std::string key;
    host::Value value;
  };
  // A deque keeps every entry (and so its key's bytes) in place, so the
  // index can hold views of the keys.
  std::deque<Entry> entries_;
  std::unordered_map<std::string_view, size_t> index_;
};

// "data": the columns of one data set that the template uses.
class DataObjectImpl final : public host::DataObject {
 public:
  std::string_view className() const override { return "data"; }
  host::Status setDataSet(host::DataSet* ds, std::string_view name) override;
  std::string_view name() const override { return name_; }
  // Column names match without regard to case; the first spelling is kept.
  // Adding after finish() fails.
  host::Status addColumn(std::string_view column) override;
  const std::vector<std::string>& columns() const override { return columns_; }
  host::Status finish() override;

  host::DataSet* dataSet() const { return ds_; }
  bool finished() const { return finished_; }

 private:
  host::DataSet* ds_ = nullptr;
  std::string name_;
  std::vector<std::string> columns_;
  std::unordered_set<std::string> seen_;  // upper-cased names
  bool finished_ = false;
};

// A named object with nothing but its class ("DataSource", "multidata",
// "graph_manager") until those get their own behaviour.
class GenericObject final : public host::Object {
 public:
  explicit GenericObject(std::string cls) : cls_(std::move(cls)) {}
  std::string_view className() const override { return cls_; }

 private:
  std::string cls_;
};

// --- Host strings -----------------------------------------------------------

// Interned texts behind kdltxt/kdlgstr: byte-equal texts (any bytes, NUL
// included) give the same handle; handles stay valid until clear().
class StringPool {
 public:
  StringPool() = default;
  StringPool(const StringPool&) = delete;
  StringPool& operator=(const StringPool&) = delete;

  const host::HStr* intern(std::string_view text);
  // `length` -1 reads up to the terminating NUL. Null `chars` with a
  // non-zero length, or a length below -1, give null.
  const host::HStr* intern(const char* chars, long length);
  // The text of a handle ("" for null).
  static std::string_view text(const host::HStr* s);

  size_t size() const { return entries_.size(); }
  // Ends the step: every handle given out is invalid afterwards.
  void clear();

 private:
  std::deque<std::string> entries_;
  std::unordered_map<std::string_view, const std::string*> index_;
};

// --- Object factory ---------------------------------------------------------

// Makes the named objects by (namespace, class) and owns them until they are
// released. The namespace is not checked: the class name decides, without
// regard to case. Objects still alive when the factory goes are released.
class ObjectFactoryImpl final : public host::ObjectFactory {
 public:
  using Maker = std::function<std::unique_ptr<host::Object>(std::string_view arg)>;

  ObjectFactoryImpl() = default;
  ~ObjectFactoryImpl() override;
  ObjectFactoryImpl(const ObjectFactoryImpl&) = delete;
  ObjectFactoryImpl& operator=(const ObjectFactoryImpl&) = delete;

  // Null for an unknown class, a "stream_flatfile" without a path, or when
  // memory runs out.
  host::Object* create(std::string_view ns, std::string_view cls,
                       std::string_view arg = {}) override;
  // Releases an object this factory made; null and foreign pointers are
  // left alone.
  void release(host::Object* o) override;

  // Adds a class (or replaces one) made by `make`; for classes other parts
  // of the runtime provide, such as the template compiler.
  void registerClass(std::string cls, Maker make);

  size_t liveObjects() const { return live_.size(); }
  bool owns(const host::Object* o) const;
  // Releases every live object.
  void releaseAll();

 private:
  std::unordered_map<std::string, Maker> extra_;  // upper-cased class name
  std::unordered_map<const host::Object*, std::unique_ptr<host::Object>> live_;
};

// --- Memory -----------------------------------------------------------------

// The blocks behind vmalcp/vmfree: zero-filled, tracked, with a failure
// that tests (and QORTAVLO_FAIL_ALLOC) can inject.
class MemoryService {
 public:
  MemoryService() = default;
  ~MemoryService();
  MemoryService(const MemoryService&) = delete;
  MemoryService& operator=(const MemoryService&) = delete;

  // A zero-filled block of `size` bytes (a size of 0 gives a block too);
  // null when memory runs out or the injected failure is due.
  void* alloc(size_t size);
  // Null and blocks not made here are left alone.
  void free(void* block);
  // The n-th allocation from now (1 = the next) fails once; 0 or less
  // turns the injection off.
  void failAfter(long n);
  // The next allocation of at least `size` bytes fails once; 0 turns this
  // off. Lets a test fail one large block (a work buffer) without counting
  // every allocation before it.
  void failAtLeast(size_t size) { failAtLeast_ = size; }
  size_t liveBlocks() const { return blocks_.size(); }
  // Allocations answered with null so far.
  long failures() const { return failures_; }

  // Reads the value of QORTAVLO_FAIL_ALLOC: a positive decimal count. False
  // (and *n untouched) for anything else.
  static bool parseFailAfter(std::string_view text, long* n);

 private:
  std::unordered_set<void*> blocks_;
  long countdown_ = 0;  // 0: no failure planned
  size_t failAtLeast_ = 0;  // 0: no failure by size planned
  long failures_ = 0;
};

}  // namespace qv::rt
