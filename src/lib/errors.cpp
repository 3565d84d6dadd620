#include "lib/errors.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "support/fault.h"

namespace tamsel::py {

namespace {

// A process-wide cell that creates one Python object on first use and keeps
// it for the life of the process.
//
// A thread never waits on a cell while attached: it detaches before looking
// at a cell that is not yet complete and re-attaches either to run the
// creator or once another thread has published the value. A waiting thread
// therefore never holds up the creating thread, nor a stop-the-world pause.
class OnceCell {
 public:
  constexpr OnceCell() = default;
  OnceCell(const OnceCell&) = delete;
  OnceCell& operator=(const OnceCell&) = delete;

  // Returns the cell's object (borrowed), running `create` to make it if no
  // thread has yet. `create` runs attached and returns a new reference; if it
  // throws, the cell goes back to incomplete and the exception travels on.
  // The caller must be attached; it returns attached.
  template <class Create>
  PyObject* get_or_create(Create&& create) {
    if (state_.load(std::memory_order_acquire) == kComplete) return value_;
    return slow_path(create);
  }

 private:
  enum : int { kIncomplete, kInitialising, kComplete };

  template <class Create>
  PyObject* slow_path(Create& create) {
    PyThreadState* saved = PyEval_SaveThread();
    for (;;) {
      int state = state_.load(std::memory_order_acquire);
      if (state == kComplete) {
        PyEval_RestoreThread(saved);
        return value_;
      }
      if (state == kIncomplete &&
          state_.compare_exchange_strong(state, kInitialising, std::memory_order_acquire)) {
        PyEval_RestoreThread(saved);
        return run_creator(create);
      }
      if (state == kInitialising) state_.wait(kInitialising, std::memory_order_acquire);
    }
  }

  template <class Create>
  PyObject* run_creator(Create& create) {
    try {
      value_ = create();
    } catch (...) {
      state_.store(kIncomplete, std::memory_order_release);
      state_.notify_all();
      throw;
    }
    state_.store(kComplete, std::memory_order_release);
    state_.notify_all();
    return value_;
  }

  std::atomic<int> state_{kIncomplete};
  PyObject* value_ = nullptr;
};

// ---------------------------------------------------------------- errors

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
  OwnedRef io{PyImport_Import(interned(Name::io))};
  OwnedRef buffer{io ? PyObject_CallMethodNoArgs(io.get(), interned(Name::string_io)) : nullptr};
  OwnedRef value{buffer && PyTraceBack_Print(traceback.get(), buffer.get()) == 0
                     ? PyObject_CallMethodNoArgs(buffer.get(), interned(Name::getvalue))
                     : nullptr};
  if (!value) {
    PyErr_Clear();
    return {};
  }
  return utf8_of(value.get()).value_or("");
}

// ---------------------------------------------------------------- the fault type

constexpr const char kFaultTypeName[] = "pyo3_runtime.PanicException";
constexpr const char kFaultTypeDoc[] =
    "\n"
    "The exception raised when Rust code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

PyObject* create_fault_type() {
  OwnedRef base{Py_NewRef(PyExc_BaseException)};
  PyObject* type = PyErr_NewExceptionWithDoc(kFaultTypeName, kFaultTypeDoc, base.get(), nullptr);
  if (type == nullptr) {
    // Taken raw: fetch_error would ask for this very type.
    raise_fault("Failed to initialize new exception type.: " + describe_error(fetch_raw_error()));
  }
  return type;
}

constinit OnceCell fault_type_cell;

// ---------------------------------------------------------------- interned names

// In the order of Name.
constexpr std::string_view kNameText[] = {"__name__", "__all__", "add_note", "io", "StringIO", "getvalue"};
static_assert(std::size(kNameText) == static_cast<size_t>(Name::getvalue) + 1);
constinit OnceCell name_cells[std::size(kNameText)];

// ---------------------------------------------------------------- faults

// The fault text of the exception being handled. Running out of memory
// inside the transform is a fault like any other here, reported as such.
std::optional<std::string> fault_text_of_current_exception() {
  CaughtFault caught = classify_current_exception();
  if (caught.kind == CaughtFault::Kind::out_of_memory) {
    caught.text = "memory allocation failed";
    report_fault(caught.text, std::source_location::current());
  }
  return std::move(caught.text);
}

}  // namespace

PyObject* fault_exception_type() { return fault_type_cell.get_or_create(create_fault_type); }

PyObject* interned(Name name) {
  const std::string_view text = kNameText[static_cast<size_t>(name)];
  return name_cells[static_cast<size_t>(name)].get_or_create([text] {
    PyObject* object = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (object == nullptr) raise_null_object_fault();
    PyUnicode_InternInPlace(&object);
    if (object == nullptr) raise_null_object_fault();
    return object;
  });
}

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
    OwnedRef type_name{PyObject_GetAttr(error.type()(), interned(Name::dunder_name))};
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

ContainedFault contain_current_exception() noexcept {
  try {
    return ContainedFault{fault_text_of_current_exception()};
  } catch (...) {
    // No memory left even for the fault's text.
    return ContainedFault{};
  }
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
