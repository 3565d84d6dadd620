#include "lib/errors.h"

#include <cstdio>
#include <cstdlib>

#include "lib/fault_type.h"
#include "lib/interned.h"
#include "support/fault.h"

namespace tamsel::py {

namespace {

void write_stderr(std::string_view text) noexcept {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

std::optional<std::string> utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
  if (bytes == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(bytes, static_cast<size_t>(size));
}

// The fetched exception stood for an internal fault that went through Python
// code: print it with its traceback and resume the fault with its text.
[[noreturn]] void resume_fetched_fault(OwnedRef exception) {
  std::string text = str_text(exception.get()).value_or("Unwrapped panic from Python code");
  write_stderr("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n");
  write_stderr("Python stack trace below:\n");
  PyErr_SetRaisedException(exception.release());
  PyErr_PrintEx(0);
  resume_fault(std::move(text));
}

// The traceback of `exception` as printed by the interpreter, or "".
std::string traceback_text(PyObject* exception) {
  OwnedRef traceback{PyException_GetTraceback(exception)};
  if (!traceback) return {};
  OwnedRef io{PyImport_Import(interned_io.get())};
  OwnedRef buffer{io ? PyObject_CallMethodNoArgs(io.get(), interned_string_io.get()) : nullptr};
  OwnedRef value{buffer && PyTraceBack_Print(traceback.get(), buffer.get()) == 0
                     ? PyObject_CallMethodNoArgs(buffer.get(), interned_getvalue.get())
                     : nullptr};
  if (!value) {
    PyErr_Clear();
    return {};
  }
  return utf8_of(value.get()).value_or("");
}

}  // namespace

Error type_error(std::string message) {
  return Error::deferred([] { return PyExc_TypeError; }, std::move(message));
}

Error runtime_error(std::string message) {
  return Error::deferred([] { return PyExc_RuntimeError; }, std::move(message));
}

Error fetch_raw_error() {
  OwnedRef exception{PyErr_GetRaisedException()};
  if (!exception) {
    return Error::deferred([] { return PyExc_SystemError; },
                           "attempted to fetch exception but none was set");
  }
  return Error::fetched(std::move(exception));
}

Error fetch_error() {
  Error error = fetch_raw_error();
  if (error.is_fetched() &&
      reinterpret_cast<PyObject*>(Py_TYPE(error.exception())) == fault_exception_type()) {
    resume_fetched_fault(error.take_exception());
  }
  return error;
}

void discard_error() { (void)fetch_error(); }

void raise_error(Error error) {
  if (error.is_fetched()) {
    PyErr_SetRaisedException(error.take_exception().release());
    return;
  }
  PyObject* type = error.type()();
  const std::string& message = error.message();
  OwnedRef text{PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()))};
  if (!text) raise_null_object_fault();
  PyErr_SetObject(type, text.get());
}

OwnedRef materialize(Error error) {
  if (error.is_fetched()) return error.take_exception();
  raise_error(std::move(error));
  return OwnedRef{PyErr_GetRaisedException()};
}

std::string type_qualname(PyTypeObject* type) {
  OwnedRef name{PyType_GetQualName(type)};
  std::optional<std::string> text = name ? utf8_of(name.get()) : std::nullopt;
  if (!text) PyErr_Clear();
  return text.value_or("<failed to extract type name>");
}

std::string cast_message(PyObject* object, std::string_view target) {
  std::string message;
  if (object == Py_None) {
    message.append("'None' is not an instance of '");
  } else {
    message.append("'").append(type_qualname(Py_TYPE(object)));
    message.append("' object is not an instance of '");
  }
  message.append(target).append("'");
  return message;
}

std::optional<std::string> str_text(PyObject* object) {
  OwnedRef text{PyObject_Str(object)};
  if (!text) {
    PyErr_Clear();
    return std::nullopt;
  }
  return utf8_of(text.get());
}

std::string describe_error(const Error& error) {
  if (!error.is_fetched()) {
    OwnedRef type_name{PyObject_GetAttr(error.type()(), interned_name.get())};
    std::optional<std::string> name = type_name ? utf8_of(type_name.get()) : std::nullopt;
    if (!type_name) PyErr_Clear();
    return name.value_or("<unknown exception type>") + ": " + error.message();
  }
  PyObject* exception = error.exception();
  std::string description = type_qualname(Py_TYPE(exception)) + ": " +
                            str_text(exception).value_or("<exception str() failed>");
  std::string traceback = traceback_text(exception);
  if (!traceback.empty()) description += "\n" + traceback;
  return description;
}

void raise_null_object_fault(std::source_location where) {
  if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
  raise_fault("PyObject pointer is null", where);
}

Error error_for_escaped_exception() {
  CaughtFault caught = classify_current_exception();
  if (caught.kind == CaughtFault::Kind::out_of_memory) {
    PyErr_NoMemory();
    return fetch_error();
  }
  return Error::deferred(fault_exception_type, std::move(caught.text).value_or("panic from Rust code"));
}

void abort_uncaught_fault() noexcept {
  write_stderr("uncaught panic at ffi boundary\n");
  std::abort();
}

}  // namespace tamsel::py
