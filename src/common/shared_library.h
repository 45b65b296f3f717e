// A shared library opened when something first needs it rather than at
// start: a library linked to the program is loaded (with every library it
// brings, and their start-up code run) by every process, also by those
// that never call it.
#pragma once

#include <dlfcn.h>

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

}  // namespace qv
