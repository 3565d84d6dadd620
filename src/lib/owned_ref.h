// A strong reference with a single owner, released when the owner goes away.
// Owners are destroyed only while the thread is attached.
#pragma once

#include "lib/python_api.h"

#include <utility>

namespace tamsel::py {

class OwnedRef {
 public:
  OwnedRef() = default;
  // Takes over `object`, a new reference or null.
  explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
  OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    if (this != &other) Py_XDECREF(std::exchange(object_, std::exchange(other.object_, nullptr)));
    return *this;
  }
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  ~OwnedRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace tamsel::py
