// The module's one function, `columnarize(payload, min_rows=20)`: its
// arguments, the transform run on a copy of the payload with the thread
// detached, and the result.
#include "lib/call.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "lib/errors.h"
#include "lib/test_hooks.h"
#include "support/large_alloc.h"
#include "support/os.h"
#include "transform/columnarize.h"

namespace tamsel::py {

namespace {

// An exact interface text, pinned byte for byte by callers and by the tests:
// do not edit it. It describes mechanisms this code does not have (it was
// written for another implementation of the same interface) and says the
// payload may be str, which is rejected; the README states what the call
// really accepts. The first line and the "--" line give the interpreter the
// signature.
constexpr const char kDoc[] =
    "columnarize(payload, min_rows=20)\n"
    "--\n"
    "\n"
    "Columnarize a row-oriented JSON payload (bytes or str), GIL released\n"
    "for the duration of the transform.\n"
    "\n"
    "Args:\n"
    "    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.\n"
    "    min_rows: Accepted for parity with the Python codec's signature;\n"
    "        not re-checked here (the Python caller already applied the\n"
    "        guard before calling this function).\n"
    "\n"
    "Returns:\n"
    "    UTF-8 JSON bytes encoding `{\"columns\", \"rows\", \"constants\"}`.\n"
    "\n"
    "Panic safety: `columnarize_json` is run inside `catch_unwind` so an\n"
    "unexpected panic (e.g. an unforeseen indexing bug) surfaces as an\n"
    "ordinary `PyRuntimeError` instead of PyO3's `PanicException`.\n"
    "`PanicException` derives from `BaseException`, not `Exception` \xe2\x80\x94" " it\n"
    "would silently bypass `columnar`'s `except Exception:` guard and\n"
    "break the \"a broken codec must never break a tool call\" contract\n"
    "(code-review fix). This does NOT protect against a stack overflow,\n"
    "which aborts the process unconditionally in Rust and cannot be caught\n"
    "by any mechanism \xe2\x80\x94" " a residual, documented limitation.";

// ---------------------------------------------------------------- arguments

constexpr std::string_view kPayload = "payload";
constexpr std::string_view kMinRows = "min_rows";

// The text of a keyword name for a message: str() of it, with characters
// that have no UTF-8 form replaced by U+FFFD.
std::string keyword_text(PyObject* name) {
  OwnedRef text{PyObject_Str(name)};
  if (!text) {
    raise_error(fetch_error());
    PyErr_WriteUnraisable(name);
    OwnedRef kind{PyType_GetName(Py_TYPE(name))};
    Py_ssize_t size = 0;
    const char* utf8 = kind ? PyUnicode_AsUTF8AndSize(kind.get(), &size) : nullptr;
    if (utf8 == nullptr) {
      PyErr_Clear();
      return "<unprintable object>";
    }
    return "<unprintable " + std::string(utf8, static_cast<size_t>(size)) + " object>";
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (utf8 != nullptr) return std::string(utf8, static_cast<size_t>(size));
  PyErr_Clear();
  // Lone surrogates: pass them through as bytes, then read them back lossily.
  OwnedRef encoded{PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass")};
  OwnedRef decoded{encoded ? PyUnicode_DecodeUTF8(PyBytes_AS_STRING(encoded.get()),
                                                  PyBytes_GET_SIZE(encoded.get()), "replace")
                           : nullptr};
  utf8 = decoded ? PyUnicode_AsUTF8AndSize(decoded.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  return std::string(utf8, static_cast<size_t>(size));
}

// Adds the note "while processing '<name>'" to an extraction error. Failing
// to add it leaves the error as it was.
Error with_note(Error error, std::string_view name) {
  OwnedRef exception = materialize(std::move(error));
  if (!exception) return fetch_error();
  std::string text = "while processing '" + std::string(name) + "'";
  OwnedRef note;
  if (PyUnicodeWriter* writer = PyUnicodeWriter_Create(0)) {
    if (PyUnicodeWriter_WriteUTF8(writer, text.data(), static_cast<Py_ssize_t>(text.size())) < 0) {
      PyUnicodeWriter_Discard(writer);
    } else {
      note = OwnedRef{PyUnicodeWriter_Finish(writer)};
    }
  }
  if (note) {
    PyObject* call_args[] = {exception.get(), note.get()};
    OwnedRef added{PyObject_VectorcallMethod(interned(Name::add_note), call_args,
                                             2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)};
    if (!added) discard_error();
  } else {
    discard_error();
  }
  return Error::fetched(std::move(exception));
}

// Borrowed references to the call's arguments; null when not given.
struct ArgumentSlots {
  PyObject* payload = nullptr;
  PyObject* min_rows = nullptr;
};

// Fills the slots from the positional values and then the keywords, in call
// order. Fails with TypeError on too many, unknown, repeated or missing
// arguments.
Result<ArgumentSlots> match_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > 2) {
    return type_error("columnarize() takes from 1 to 2 positional arguments but " +
                      std::to_string(nargs) + " were given");
  }
  ArgumentSlots slots;
  if (nargs >= 1) slots.payload = args[0];
  if (nargs >= 2) slots.min_rows = args[1];

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t i = 0; i < keywords; ++i) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, i);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (utf8 == nullptr) discard_error();
    const std::string_view text =
        utf8 == nullptr ? std::string_view{} : std::string_view(utf8, static_cast<size_t>(size));
    PyObject** slot = utf8 == nullptr ? nullptr
                      : text == kPayload ? &slots.payload
                      : text == kMinRows ? &slots.min_rows
                                         : nullptr;
    if (slot == nullptr) {
      return type_error("columnarize() got an unexpected keyword argument '" +
                        keyword_text(name) + "'");
    }
    if (*slot != nullptr) {
      return type_error("columnarize() got multiple values for argument '" + std::string(text) +
                        "'");
    }
    *slot = args[nargs + i];
  }

  if (slots.payload == nullptr) {
    return type_error("columnarize() missing 1 required positional argument: 'payload'");
  }
  return slots;
}

// The bytes of a `bytes` (or subclass) payload, valid while it is alive.
Result<std::string_view> extract_payload(PyObject* payload) {
  if (!PyType_HasFeature(Py_TYPE(payload), Py_TPFLAGS_BYTES_SUBCLASS)) {
    return with_note(type_error(cast_message(payload, "bytes")), kPayload);
  }
  // A bytes object (or subclass), checked above: its fields are read directly.
  return std::string_view(PyBytes_AS_STRING(payload), static_cast<size_t>(PyBytes_GET_SIZE(payload)));
}

// Checks that `min_rows` converts to an unsigned 64-bit integer.
Status validate_min_rows(PyObject* min_rows) {
  OwnedRef index;
  if (!PyType_HasFeature(Py_TYPE(min_rows), Py_TPFLAGS_LONG_SUBCLASS)) {
    index = OwnedRef{PyNumber_Index(min_rows)};
    if (!index) return with_note(fetch_error(), kMinRows);
    min_rows = index.get();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(min_rows);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    return with_note(fetch_error(), kMinRows);
  }
  return kDone;  // The value only has to be valid; the caller applied the guard.
}

// The payload's bytes, valid while the call's arguments are alive, once both
// arguments have been matched and checked, in this order.
Result<std::string_view> read_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Result<ArgumentSlots> slots = match_arguments(args, nargs, kwnames);
  if (!slots.ok()) return std::move(slots.error());
  Result<std::string_view> payload = extract_payload(slots.value().payload);
  if (!payload.ok()) return payload;
  if (slots.value().min_rows != nullptr) {
    Status min_rows = validate_min_rows(slots.value().min_rows);
    if (!min_rows.ok()) return std::move(min_rows.error());
  }
  return payload;
}

// ---------------------------------------------------------------- detached

// The payload's bytes, owned by the call so the transform can run detached.
// A small payload is copied into the object itself, a larger one into memory
// of its own; an empty payload takes nothing.
class PayloadCopy {
 public:
  explicit PayloadCopy(std::string_view payload) : size_(payload.size()) {
    if (size_ == 0) return;
    if (size_ <= kInlineBytes) {
      bytes_ = inline_;
    } else {
      bytes_ = static_cast<char*>(allocate_large(size_));
      prepare_for_writing(bytes_, size_);
    }
    std::memcpy(bytes_, payload.data(), size_);
  }
  ~PayloadCopy() { release(); }
  PayloadCopy(const PayloadCopy&) = delete;
  PayloadCopy& operator=(const PayloadCopy&) = delete;

  std::string_view view() const { return {bytes_, size_}; }
  // For a large copy, lets the transform give back its pages behind the
  // rows written, so that the copy and the output are not both whole at
  // once; nullptr when the copy is kept whole. Smaller copies keep their
  // pages: they cost less than the calls to give them back.
  const PayloadRelease* release_while_writing() {
    if (size_ < kReleasedFromBytes) return nullptr;
    release_ = PayloadRelease{bytes_, kReleaseStepBytes, os::kHugePageBytes, &give_back_lazily};
    return &release_;
  }
  void release() noexcept {
    if (bytes_ != inline_) free_large(bytes_, size_);
    bytes_ = nullptr;
    size_ = 0;
  }

  // Payloads up to this many bytes are copied inline.
  static constexpr size_t kInlineBytes = 2 * 1024;
  // Copies of this many bytes or more are given back while the output is
  // written, this much at a time.
  static constexpr size_t kReleasedFromBytes = size_t{32} << 20;
  static constexpr size_t kReleaseStepBytes = size_t{8} << 20;
  static_assert(kReleasedFromBytes >= kLargeBufferBytes, "only whole mappings of our own are given back");

 private:
  // The copy is a mapping of its own (large_alloc.h), not a block from an
  // allocator that keeps its data beside it.
  // Lazily: the block goes back to the pool, and the next large call that
  // takes it writes its copy over these pages; taken back from the system
  // instead, they would have to be supplied again, fresh.
  static void give_back_lazily(const char* from, size_t bytes) noexcept {
    (void)os::free_pages_lazily(const_cast<char*>(from), bytes);
  }

  char* bytes_ = nullptr;
  size_t size_;
  PayloadRelease release_{};
  char inline_[kInlineBytes];
};

// The calling thread detached from the interpreter while the guard lives, so
// that other threads run meanwhile (on a default build, the GIL is
// released). Nothing in its scope touches a Python object, except inside an
// Attached guard made from it.
class Detached {
 public:
  Detached() noexcept : saved_(PyEval_SaveThread()) {}
  ~Detached() { PyEval_RestoreThread(saved_); }
  Detached(const Detached&) = delete;
  Detached& operator=(const Detached&) = delete;

  // The thread attached again while this guard lives.
  class Attached {
   public:
    explicit Attached(Detached& detached) noexcept : detached_(detached) {
      PyEval_RestoreThread(detached_.saved_);
    }
    ~Attached() { detached_.saved_ = PyEval_SaveThread(); }
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;

   private:
    Detached& detached_;
  };

 private:
  PyThreadState* saved_;
};

// What the transform gave: its outcome, or an internal fault contained.
using TransformResult = std::variant<TransformOutcome, ContainedFault>;

// The transform (columnarize_json) in its two steps, see Columnarizer. Each
// touches no Python object, so it may (and does) run detached, and contains
// its own faults; between them the caller can make memory ready for the
// output to be written straight into.
class PreparedTransform {
 public:
  PreparedTransform() = default;
  PreparedTransform(const PreparedTransform&) = delete;
  PreparedTransform& operator=(const PreparedTransform&) = delete;

  // Reads and surveys `payload`, which must outlive the object's use.
  void prepare(std::string_view payload) noexcept {
    try {
      test_hooks::in_transform();
      Columnarizer& columnarizer = columnarizer_.emplace(test_hooks::transform_input(payload));
      if (columnarizer.failure()) {
        result_.emplace(TransformOutcome::failure(*columnarizer.failure()));
        columnarizer_.reset();
      }
    } catch (...) {
      columnarizer_.reset();
      result_.emplace(contain_current_exception());
    }
  }

  // Whether the output is still to be written; if not, `result` says why.
  bool ready() const { return columnarizer_.has_value(); }
  size_t expected_output_size() const { return columnarizer_->expected_output_size(); }

  // Writes the output, into [memory, memory + bytes) as far as it goes when
  // memory is given, else into the object's own inline room when the output
  // is expected to fit there, giving back payload memory as `release`
  // allows.
  void write(char* memory, size_t bytes, const PayloadRelease* release) noexcept {
    try {
      if (memory == nullptr && bytes <= kInlineOutputBytes) {
        memory = output_block_;
        bytes = kInlineOutputBytes;
      }
      json::ByteBuffer out = memory != nullptr ? json::ByteBuffer(memory, bytes) : json::ByteBuffer();
      columnarizer_->write(out, release);
      result_.emplace(TransformOutcome::success(std::move(out)));
    } catch (...) {
      result_.emplace(contain_current_exception());
    }
    columnarizer_.reset();
  }

  // The outcome or fault; the output, once written, is in the outcome, and
  // may be held by this object: use it while the object lives.
  TransformResult& result() { return *result_; }

  // Outputs expected to take up to this many bytes are written inline.
  static constexpr size_t kInlineOutputBytes = 2 * 1024;

 private:
  std::optional<Columnarizer> columnarizer_;
  std::optional<TransformResult> result_;
  char output_block_[kInlineOutputBytes];
};

// ---------------------------------------------------------------- the result

// Outputs expected to take this much or more are written straight into the
// result; below it, making the result twice (re-attaching in between) costs
// more than copying the output.
constexpr size_t kDirectResultBytes = size_t{64} << 10;

// A result bytes object of `size` bytes, not yet filled, or null with the
// error set. The one place where a result object is made.
OwnedRef new_result(size_t size) {
  if (test_hooks::result_fails()) return OwnedRef{};
  // A large result the process cannot have in fact fails here, before its
  // memory is touched, rather than ending the process once it is.
  if (!fresh_memory_fits(size)) return OwnedRef{PyErr_NoMemory()};
  return OwnedRef{PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))};
}

// The result bytes could not be made. Running out of memory there is an
// ordinary MemoryError, as it is for the payload copy: it must reach a caller
// that guards the call with `except Exception:`, not escape it as the fault
// exception. A null result with nothing pending is a broken invariant.
Error result_creation_error() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) return fetch_error();
  raise_null_object_fault();
}

// Turns what the transform gave into the call's result, attached.
Result<OwnedRef> convert(TransformResult& result) {
  if (auto* fault = std::get_if<ContainedFault>(&result)) {
    return runtime_error("internal panic during columnarization: " +
                         fault->text.value_or("unknown panic in columnarize_json"));
  }
  TransformOutcome& outcome = std::get<TransformOutcome>(result);
  if (!outcome.ok()) return runtime_error(outcome.message());
  const json::ByteBuffer& output = outcome.output();
  OwnedRef bytes = new_result(output.size());
  if (!bytes) return result_creation_error();
  char* target = PyBytes_AS_STRING(bytes.get());
  prepare_for_writing(target, output.size());
  if (output.size() != 0) std::memcpy(target, output.data(), output.size());
  return bytes;
}

// ---------------------------------------------------------------- the call

Result<OwnedRef> columnarize_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Result<std::string_view> payload = read_arguments(args, nargs, kwnames);
  if (!payload.ok()) return std::move(payload.error());
  if (std::optional<Error> error = test_hooks::in_body(payload.value())) return std::move(*error);

  PayloadCopy copy(payload.value());
  PreparedTransform transform;
  // A large output is written straight into the result, made ready at the
  // size the output is expected to take and then cut to the size it took.
  // Should the output outgrow it, or the result not be had at that size, the
  // output is written apart and copied as usual.
  OwnedRef result;
  char* target = nullptr;
  {
    Detached detached;
    // Detached, as it may give pooled buffers back to the system.
    note_library_call();
    transform.prepare(copy.view());
    if (transform.ready()) {
      const size_t expected = transform.expected_output_size();
      if (expected >= kDirectResultBytes && expected <= PY_SSIZE_T_MAX) {
        {
          const Detached::Attached attached(detached);
          result = new_result(expected);
          if (result) {
            target = PyBytes_AS_STRING(result.get());
          } else {
            PyErr_Clear();
          }
        }
        if (target != nullptr) {
          advise_huge_pages(target, expected);
          populate_if_given_back(target, expected);
        }
      }
      transform.write(target, expected, copy.release_while_writing());
    }
    // Given back on every way out of this scope, before the thread is
    // attached again: giving back a large copy may wait on the pool's lock
    // or unmap memory, which must not hold up the interpreter.
    copy.release();
  }
  TransformResult& written = transform.result();
  auto* outcome = std::get_if<TransformOutcome>(&written);
  if (target != nullptr && outcome != nullptr && outcome->output().in_memory(target)) {
    PyObject* bytes = result.release();
    if (test_hooks::resize_bytes(&bytes, static_cast<Py_ssize_t>(outcome->output().size())) != 0) {
      return result_creation_error();
    }
    return OwnedRef{bytes};
  }
  result = OwnedRef{};
  return convert(written);
}

PyObject* columnarize(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  [[maybe_unused]] const test_hooks::Call armed;
  std::optional<OwnedRef> result = run_entry<OwnedRef>(
      [&] { return columnarize_body(args, nargs, kwnames); });
  return result ? result->release() : nullptr;
}

}  // namespace

PyMethodDef columnarize_method = {
    "columnarize",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(columnarize)),
    METH_FASTCALL | METH_KEYWORDS,
    kDoc,
};

}  // namespace tamsel::py
