// Errors and internal faults at the Python boundary.
//
// An error is a value (Error, Result) until an entry point raises it; the
// interpreter's exceptions are fetched into such values as soon as a C API
// call reports one. An internal fault is thrown (support/fault.h) and
// contained in two places only: around the transform, where it becomes a
// RuntimeError (contain_current_exception), and around every entry point,
// where it becomes the process-wide fault exception type (run_entry).
//
// Also here, as the errors need them: owned references, and the names and
// the exception type each made once per process on first use.
#pragma once

#include "lib/python_compat.h"

#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tamsel::py {

// A strong reference with a single owner, released when the owner goes away.
// Owners are destroyed only while the thread is attached.
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

// Either an exception object fetched from the interpreter, or an exception
// type with its message, made into an object only when raised.
class Error {
 public:
  // Returns an exception type (borrowed); may raise an internal fault.
  using TypeGetter = PyObject* (*)();

  static Error fetched(OwnedRef exception) { return Error(std::move(exception)); }
  static Error deferred(TypeGetter type, std::string message) {
    return Error(type, std::move(message));
  }

  bool is_fetched() const noexcept { return static_cast<bool>(exception_); }
  PyObject* exception() const noexcept { return exception_.get(); }
  OwnedRef take_exception() noexcept { return std::move(exception_); }
  TypeGetter type() const noexcept { return type_; }
  const std::string& message() const noexcept { return message_; }

 private:
  explicit Error(OwnedRef exception) : exception_(std::move(exception)) {}
  Error(TypeGetter type, std::string message) : type_(type), message_(std::move(message)) {}

  OwnedRef exception_;
  TypeGetter type_ = nullptr;
  std::string message_;
};

// A value of type T, or the error that prevented it.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  T& value() { return std::get<0>(state_); }
  Error& error() { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

using Status = Result<std::monostate>;
inline constexpr std::monostate kDone{};

Error type_error(std::string message);
Error runtime_error(std::string message);

// Takes the interpreter's current exception. With none set, the error is a
// SystemError. An exception of exactly the fault exception type is not
// returned: the fault it stands for is resumed instead.
Error fetch_error();

// Like fetch_error, but returns an exception of any type as it is. For use
// where the fault exception type may not be asked for.
Error fetch_raw_error();

// Takes the interpreter's current exception and drops it.
void discard_error();

// Sets `error` as the interpreter's current exception. Raises an internal
// fault if the exception's message or type cannot be made.
void raise_error(Error error);

// Makes `error` an exception object if it is not one already.
OwnedRef materialize(Error error);

// "'<type>' object is not an instance of '<target>'" (or the form for None).
std::string cast_message(PyObject* object, std::string_view target);

// The qualified name of `type` as UTF-8, or "<failed to extract type name>".
std::string type_qualname(PyTypeObject* type);

// The text of `object` as UTF-8 through str(), or nothing (error dropped).
std::optional<std::string> str_text(PyObject* object);

// A description of an error: its type and value, then its traceback if any.
std::string describe_error(const Error& error);

// The internal fault for a null result of a creating call: a pending
// exception is reported as unraisable first.
[[noreturn]] void raise_null_object_fault(
    std::source_location where = std::source_location::current());

// The process-wide exception type an internal fault becomes when it escapes
// to Python outside the transform: "pyo3_runtime.PanicException"
// (borrowed), derived from BaseException. Requires an attached thread.
PyObject* fault_exception_type();

// Attribute and module names as interned str objects.
enum class Name { dunder_name, dunder_all, add_note, io, string_io, getvalue };

// The interned str (borrowed). Requires an attached thread; a failure to
// create it is the internal fault "PyObject pointer is null".
PyObject* interned(Name name);

// An internal fault contained around the transform; its text, if it had one.
struct ContainedFault {
  std::optional<std::string> text;
};

// The fault that the exception being handled (inside a catch block) stands
// for. Touches no Python object, so it runs detached. Running out of memory
// is a fault like any other here, reported as such on standard error.
ContainedFault contain_current_exception() noexcept;

// Turns the exception being handled (inside a catch block) into the error an
// entry point raises for it: a fault exception for an internal fault, a
// MemoryError for memory exhaustion.
Error error_for_escaped_exception();

// A fault could not be delivered as an exception: reports it and aborts.
[[noreturn]] void abort_uncaught_fault() noexcept;

// The bracket around every entry point. Runs `body` (returning Result<T>) on
// an attached thread and returns its value, or nothing once its error has
// been set as the current exception. An internal fault raised by the body
// becomes the fault exception; a fault while raising the error cannot be
// delivered and aborts the process.
template <class T, class Body>
std::optional<T> run_entry(Body&& body) noexcept {
  std::optional<Result<T>> outcome;
  try {
    try {
      outcome.emplace(body());
    } catch (...) {
      outcome.emplace(error_for_escaped_exception());
    }
    if (outcome->ok()) return std::move(outcome->value());
    raise_error(std::move(outcome->error()));
  } catch (...) {
    abort_uncaught_fault();
  }
  return std::nullopt;
}

}  // namespace tamsel::py
