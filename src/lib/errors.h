// Errors at the Python boundary: fetching the interpreter's exception,
// carrying it (or a description of one still to be made) as a value, and
// raising it again.
#pragma once

#include "lib/python_api.h"

#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "lib/owned_ref.h"

namespace tamsel::py {

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

// Turns the exception being handled (inside a catch block) into the error an
// entry point raises for it: a fault exception for an internal fault, a
// MemoryError for memory exhaustion.
Error error_for_escaped_exception();

// A fault could not be delivered as an exception: reports it and aborts.
[[noreturn]] void abort_uncaught_fault() noexcept;

}  // namespace tamsel::py
