// An owning handle for a host object: when the handle goes, the object is
// emptied (lists and tables) and given back to the factory that made it. A
// handle without a factory owns nothing and releases nothing (a test's own
// object).
#pragma once

#include <memory>

#include "module/host/host.h"

namespace qv::host {

template <class T>
struct Release {
  ObjectFactory* factory = nullptr;
  void operator()(T* o) const {
    if (!o || !factory) return;
    if constexpr (requires { o->clear(); }) {
      o->clear();
    } else if (auto* list = dynamic_cast<List*>(o)) {
      list->clear();
    } else if (auto* table = dynamic_cast<AssocArray*>(o)) {
      table->clear();
    }
    factory->release(o);
  }
};

template <class T>
using Owned = std::unique_ptr<T, Release<T>>;

// Makes an object of class `cls` that must be a T; null (nothing kept) when
// the factory makes none or another kind.
template <class T>
Owned<T> makeOwned(ObjectFactory* factory, std::string_view ns, std::string_view cls,
                   std::string_view arg = {}) {
  Object* o = factory ? factory->create(ns, cls, arg) : nullptr;
  T* typed = dynamic_cast<T*>(o);
  if (!typed && o) factory->release(o);
  return Owned<T>(typed, Release<T>{factory});
}

// Holds an object someone else keeps alive (a test's own list).
template <class T>
Owned<T> borrowed(T* o) {
  return Owned<T>(o, Release<T>{});
}

// An owning handle kept in a record that is copied (a step record a test
// keeps): the copy views the same object without owning it, so the object
// is released once, when the original goes.
template <class T>
class Held {
 public:
  Held() = default;
  Held(Owned<T> o) : p_(std::move(o)) {}
  Held(const Held& o) : p_(borrowed(o.get())) {}
  Held& operator=(const Held& o) {
    if (this != &o) p_ = borrowed(o.get());
    return *this;
  }
  Held(Held&&) noexcept = default;
  Held& operator=(Held&&) noexcept = default;

  T* get() const { return p_.get(); }
  T* operator->() const { return p_.get(); }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const Held& h, std::nullptr_t) { return h.p_ == nullptr; }

 private:
  Owned<T> p_;
};

}  // namespace qv::host
