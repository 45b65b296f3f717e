// A shared library opened when something first needs it rather than at
// start: a library linked to the program is loaded (with every library it
// brings, and their start-up code run) by every process, also by those
// that never call it.
#pragma once

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace qv {

class SharedLibrary {
 public:
  // Opens the library `soname` for good; false with the loader's reason.
  bool open(const char* soname, std::string* error) {
    handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = ::dlerror();
      *error = std::string(soname) + " cannot be loaded (" + (why ? why : "no reason given") + ")";
    }
    return handle_ != nullptr;
  }
  // Sets `fn` to the function `name`; false with the reason when the
  // library has no such function.
  template <class F>
  bool find(const char* name, F*& fn, std::string* error) const {
    fn = handle_ ? reinterpret_cast<F*>(::dlsym(handle_, name)) : nullptr;
    if (!fn) *error = std::string("the function ") + name + " is not in the library";
    return fn != nullptr;
  }

 private:
  void* handle_ = nullptr;
};

// The functions of a library, opened the first time they are asked for.
// `Functions` holds the pointers and a `bool find(const SharedLibrary&,
// std::string* why)` that sets them (and may start the library); the
// QV_LIBRARY_FIELD and QV_LIBRARY_FIND lines write both from one list.
template <class Functions>
class LazyLibrary {
 public:
  explicit LazyLibrary(const char* soname) : soname_(soname) {}
  // The functions, or null with `error` (when given) saying why; the
  // library is opened once, whatever the threads asking.
  const Functions* get(std::string* error) {
    std::call_once(once_, [this] {
      std::string why;
      if (library_.open(soname_, &why) && functions_.find(library_, &why)) loaded_ = true;
      else why_ = why;
    });
    if (!loaded_ && error) *error = why_;
    return loaded_ ? &functions_ : nullptr;
  }

 private:
  const char* soname_;
  std::once_flag once_;
  SharedLibrary library_;
  Functions functions_;
  bool loaded_ = false;
  std::string why_;
};

#define QV_LIBRARY_FIELD(f) decltype(&::f) f = nullptr;
#define QV_LIBRARY_FIND(f) ok = ok && library.find(#f, f, why);

}  // namespace qv
