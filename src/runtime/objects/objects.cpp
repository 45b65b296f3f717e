#include "runtime/objects/objects.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "common/ascii.h"
#include "common/filebuf.h"
#include "common/tempfiles.h"

namespace qv::rt {

namespace {

const host::Value kEmptyValue{};

}  // namespace

// --- MemoryStream -----------------------------------------------------------

host::Status MemoryStream::open(bool forOutput) {
  if (forOutput) data_.clear();
  open_ = true;
  output_ = forOutput;
  return host::kOk;
}

host::Status MemoryStream::write(const char* bytes, size_t length) {
  if (!open_ || !output_) return kStreamNotOpen;
  if (length == 0) return host::kOk;
  if (!bytes) return kIoFailure;
  try {
    data_.append(bytes, length);
  } catch (const std::bad_alloc&) {
    return host::kNoMemory;
  } catch (const std::length_error&) {
    return host::kNoMemory;
  }
  return host::kOk;
}

int64_t MemoryStream::read(char* out, size_t capacity) const {
  size_t n = std::min(capacity, data_.size());
  if (n == 0) return 0;
  if (!out) return -1;
  std::memcpy(out, data_.data(), n);
  return static_cast<int64_t>(n);
}

host::Status MemoryStream::close() {
  open_ = false;
  output_ = false;
  return host::kOk;
}

// --- FlatFileStream ---------------------------------------------------------

FlatFileStream::~FlatFileStream() {
  if (file_) std::fclose(file_);
  if (!tmpPath_.empty()) removeTempFile(tmpPath_);  // never completed
}

host::Status FlatFileStream::open(bool forOutput) {
  if (file_) {
    host::Status s = close();
    if (s != host::kOk) return s;
  }
  lastError_.clear();
  told_ = false;
  failed_ = false;
  written_ = 0;
  if (path_.empty()) {
    lastError_ = "no file name";
    return failed(kIoFailure);
  }
  if (!forOutput) {
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) {
      lastError_ = std::strerror(errno);
      return failed(kIoFailure);
    }
    output_ = false;
    return host::kOk;
  }
  // Output goes to a new file beside the target (never through a link, a
  // FIFO or a device found there), renamed over it when it is complete.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    lastError_ = S_ISLNK(st.st_mode) ? std::string("it is a symbolic link")
                                      : std::string("it is ") + notRegularFile(st.st_mode);
    return failed(kIoFailure);
  }
  std::string tmp;
  int fd = createTempBeside(path_, tmp);
  if (fd < 0) {
    lastError_ = std::strerror(errno);
    return failed(kIoFailure);
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    lastError_ = std::strerror(errno);
    ::close(fd);
    removeTempFile(tmp);
    return failed(kIoFailure);
  }
  tmpPath_ = std::move(tmp);
  output_ = true;
  return host::kOk;
}

host::Status FlatFileStream::write(const char* bytes, size_t length) {
  if (!file_ || !output_) return kStreamNotOpen;
  if (length == 0) return host::kOk;
  if (!bytes) return failed(kIoFailure);
  size_t n = std::fwrite(bytes, 1, length, file_);
  written_ += static_cast<int64_t>(n);
  if (n != length) {
    failed_ = true;
    lastError_ = std::strerror(errno);
    return failed(kIoFailure);
  }
  return host::kOk;
}

int64_t FlatFileStream::length() const {
  if (file_ && output_) return written_;
  std::error_code ec;
  auto size = std::filesystem::file_size(path_, ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

int64_t FlatFileStream::read(char* out, size_t capacity) const {
  if (capacity == 0) return 0;
  if (!out) return -1;
  // What is written so far must be on disk before it can be read back.
  if (file_ && output_ && std::fflush(file_) != 0) return -1;
  std::FILE* in = std::fopen((file_ && output_ ? tmpPath_ : path_).c_str(), "rb");
  if (!in) return -1;
  size_t n = std::fread(out, 1, capacity, in);
  bool bad = std::ferror(in) != 0;
  std::fclose(in);
  return bad ? -1 : static_cast<int64_t>(n);
}

host::Status FlatFileStream::failed(host::Status s) {
  if (!told_ && onFailure_) onFailure_(lastError_.empty() ? "unknown error" : lastError_);
  told_ = true;
  return s;
}

host::Status FlatFileStream::close() {
  if (!file_) return host::kOk;
  bool bad = failed_;
  if (output_) {
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
      if (!bad) lastError_ = std::strerror(errno);
      bad = true;
    }
  }
  if (std::fclose(file_) != 0) {
    if (!bad) lastError_ = std::strerror(errno);
    bad = true;
  }
  if (output_) {
    // Complete: it takes the target's place. Otherwise the target is left
    // as it was.
    if (!bad && std::rename(tmpPath_.c_str(), path_.c_str()) != 0) {
      lastError_ = std::strerror(errno);
      bad = true;
    }
    if (bad) removeTempFile(tmpPath_);
    else forgetTempFile(tmpPath_);
    tmpPath_.clear();
    if (!bad && onWritten_) onWritten_();
  }
  file_ = nullptr;
  output_ = false;
  failed_ = false;
  return bad ? failed(kIoFailure) : host::kOk;
}

// --- ListImpl ---------------------------------------------------------------

host::Status ListImpl::append(const host::Value& v) {
  try {
    items_.push_back(v);
  } catch (const std::bad_alloc&) {
    return host::kNoMemory;
  }
  return host::kOk;
}

const host::Value& ListImpl::at(size_t i) const {
  return i < items_.size() ? items_[i] : kEmptyValue;
}

bool ListImpl::contains(const host::Value& v) const {
  for (const host::Value& item : items_) {
    if (item == v) return true;
  }
  return false;
}

// --- AssocArrayImpl ---------------------------------------------------------

host::Status AssocArrayImpl::put(std::string_view key, const host::Value& v) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    try {
      entries_[it->second].value = v;
    } catch (const std::bad_alloc&) {
      return host::kNoMemory;
    }
    return host::kOk;
  }
  try {
    entries_.push_back(Entry{std::string(key), v});
  } catch (const std::bad_alloc&) {
    return host::kNoMemory;
  }
  try {
    index_.emplace(std::string_view(entries_.back().key), entries_.size() - 1);
  } catch (const std::bad_alloc&) {
    entries_.pop_back();
    return host::kNoMemory;
  }
  return host::kOk;
}

const host::Value* AssocArrayImpl::get(std::string_view key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].value;
}

std::string_view AssocArrayImpl::keyAt(size_t i) const {
  return i < entries_.size() ? std::string_view(entries_[i].key) : std::string_view();
}

const host::Value& AssocArrayImpl::valueAt(size_t i) const {
  return i < entries_.size() ? entries_[i].value : kEmptyValue;
}

void AssocArrayImpl::clear() {
  index_.clear();
  entries_.clear();
}

// --- DataObjectImpl ---------------------------------------------------------

host::Status DataObjectImpl::setDataSet(host::DataSet* ds, std::string_view name) {
  ds_ = ds;
  name_ = name;
  return host::kOk;
}

host::Status DataObjectImpl::addColumn(std::string_view column) {
  if (finished_) return host::kHostFailure;
  if (column.empty()) return host::kHostFailure;
  try {
    if (seen_.insert(upper(column)).second) columns_.emplace_back(column);
  } catch (const std::bad_alloc&) {
    return host::kNoMemory;
  }
  return host::kOk;
}

host::Status DataObjectImpl::finish() {
  finished_ = true;
  return host::kOk;
}

// --- StringPool -------------------------------------------------------------

const host::HStr* StringPool::intern(std::string_view text) {
  auto it = index_.find(text);
  const std::string* s = nullptr;
  if (it != index_.end()) {
    s = it->second;
  } else {
    try {
      entries_.emplace_back(text);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    s = &entries_.back();
    try {
      index_.emplace(std::string_view(*s), s);
    } catch (const std::bad_alloc&) {
      entries_.pop_back();
      return nullptr;
    }
  }
  // The handle is the address of the pooled text; only text() reads it.
  return reinterpret_cast<const host::HStr*>(s);
}

const host::HStr* StringPool::intern(const char* chars, long length) {
  if (length == -1) return intern(std::string_view(chars ? chars : ""));
  if (length < -1) return nullptr;
  if (length == 0) return intern(std::string_view());
  if (!chars) return nullptr;
  return intern(std::string_view(chars, static_cast<size_t>(length)));
}

std::string_view StringPool::text(const host::HStr* s) {
  if (!s) return {};
  return *reinterpret_cast<const std::string*>(s);
}

void StringPool::clear() {
  index_.clear();
  entries_.clear();
}

// --- ObjectFactoryImpl ------------------------------------------------------

ObjectFactoryImpl::~ObjectFactoryImpl() { releaseAll(); }

host::Object* ObjectFactoryImpl::create(std::string_view /*ns*/, std::string_view cls,
                                        std::string_view arg) {
  try {
    std::string c = upper(cls);
    std::unique_ptr<host::Object> o;
    if (auto it = extra_.find(c); it != extra_.end()) {
      o = it->second(arg);
    } else if (c == "STREAM_MEMORY") {
      o = std::make_unique<MemoryStream>();
    } else if (c == "STREAM_FLATFILE") {
      if (arg.empty()) return nullptr;
      o = std::make_unique<FlatFileStream>(std::string(arg));
    } else if (c == "LIST") {
      o = std::make_unique<ListImpl>();
    } else if (c == "ASSOCIATIVEARRAY") {
      o = std::make_unique<AssocArrayImpl>();
    } else if (c == "DATA") {
      o = std::make_unique<DataObjectImpl>();
    } else if (c == "DATASOURCE") {
      o = std::make_unique<GenericObject>("DataSource");
    } else if (c == "MULTIDATA") {
      o = std::make_unique<GenericObject>("multidata");
    } else if (c == "GRAPH_MANAGER") {
      o = std::make_unique<GenericObject>("graph_manager");
    }
    if (!o) return nullptr;
    host::Object* raw = o.get();
    live_.emplace(raw, std::move(o));
    return raw;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void ObjectFactoryImpl::release(host::Object* o) {
  if (!o) return;
  // Taken out of the table before it is destroyed, so that a destructor
  // that releases other objects finds the table in order.
  auto node = live_.extract(o);
}

void ObjectFactoryImpl::registerClass(std::string cls, Maker make) {
  extra_[upper(cls)] = std::move(make);
}

bool ObjectFactoryImpl::owns(const host::Object* o) const { return live_.count(o) != 0; }

void ObjectFactoryImpl::releaseAll() {
  // Moved out first: an object's destructor may itself release others.
  auto objects = std::move(live_);
  live_.clear();
  objects.clear();
}

// --- MemoryService ----------------------------------------------------------

MemoryService::~MemoryService() {
  for (void* b : blocks_) std::free(b);
}

void* MemoryService::alloc(size_t size) {
  if (countdown_ > 0 && --countdown_ == 0) {
    ++failures_;
    return nullptr;
  }
  if (failAtLeast_ > 0 && size >= failAtLeast_) {
    failAtLeast_ = 0;
    ++failures_;
    return nullptr;
  }
  void* b = std::calloc(size == 0 ? 1 : size, 1);
  if (!b) {
    ++failures_;
    return nullptr;
  }
  try {
    blocks_.insert(b);
  } catch (const std::bad_alloc&) {
    std::free(b);
    ++failures_;
    return nullptr;
  }
  return b;
}

void MemoryService::free(void* block) {
  if (!block) return;
  auto it = blocks_.find(block);
  if (it == blocks_.end()) return;
  blocks_.erase(it);
  std::free(block);
}

void MemoryService::failAfter(long n) { countdown_ = n > 0 ? n : 0; }

bool MemoryService::parseFailAfter(std::string_view text, long* n) {
  long v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || v <= 0) return false;
  if (n) *n = v;
  return true;
}

}  // namespace qv::rt
