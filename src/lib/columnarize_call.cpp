#include "lib/columnarize_call.h"

#include <cstring>
#include <string>

#include "lib/alloc_failure_controls.h"
#include "lib/arguments.h"
#include "lib/entry_bracket.h"
#include "lib/errors.h"
#include "lib/fault_hooks.h"
#include "lib/transform_call.h"
#include "support/large_alloc.h"
#include "support/os.h"

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
    release_ = PayloadRelease{bytes_, kReleaseStepBytes, os::kHugePageBytes, &discard};
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
  static void discard(const char* from, size_t bytes) noexcept { os::discard_pages(const_cast<char*>(from), bytes); }

  char* bytes_ = nullptr;
  size_t size_;
  PayloadRelease release_{};
  char inline_[kInlineBytes];
};

// Outputs expected to take this much or more are written straight into the
// result; below it, making the result twice (re-attaching in between) costs
// more than copying the output.
constexpr size_t kDirectResultBytes = size_t{64} << 10;

// The result bytes could not be made. Running out of memory there is an
// ordinary MemoryError, as it is for the payload copy: it must reach a caller
// that guards the call with `except Exception:`, not escape it as the fault
// exception. A null result with nothing pending is a broken invariant.
Error result_creation_error() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) return fetch_error();
  raise_null_object_fault();
}

// Turns what the transform gave into the call's result, attached.
Result<OwnedRef> convert(TransformResult& result, const FaultHooks& hooks) {
  if (auto* fault = std::get_if<ContainedFault>(&result)) {
    return runtime_error("internal panic during columnarization: " +
                         fault->text.value_or("unknown panic in columnarize_json"));
  }
  TransformOutcome& outcome = std::get<TransformOutcome>(result);
  if (!outcome.ok()) return runtime_error(outcome.message());
  const json::ByteBuffer& output = outcome.output();
  OwnedRef bytes{hooks.fail_result() || result_allocation_fails()
                     ? nullptr
                     : !fresh_memory_fits(output.size()) ? PyErr_NoMemory()
                     : PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(output.size()))};
  if (!bytes) return result_creation_error();
  char* target = PyBytes_AS_STRING(bytes.get());
  prepare_for_writing(target, output.size());
  if (output.size() != 0) std::memcpy(target, output.data(), output.size());
  return bytes;
}

Result<OwnedRef> columnarize_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Result<ArgumentSlots> slots = parse_arguments(args, nargs, kwnames);
  if (!slots.ok()) return std::move(slots.error());
  Result<std::string_view> payload = extract_payload(slots.value().payload);
  if (!payload.ok()) return std::move(payload.error());
  if (slots.value().min_rows != nullptr) {
    Status min_rows = validate_min_rows(slots.value().min_rows);
    if (!min_rows.ok()) return std::move(min_rows.error());
  }

  const FaultHooks hooks(payload.value());
  if (std::optional<Error> error = hooks.in_body()) return std::move(*error);

  PayloadCopy copy(payload.value());
  // Detached: no Python object is touched until the thread is back.
  PyThreadState* saved = PyEval_SaveThread();
  // Detached, as it may give pooled buffers back to the system.
  note_library_call();
  PreparedTransform transform(copy.view(), hooks);
  if (!transform.ready()) {
    copy.release();
    PyEval_RestoreThread(saved);
    return convert(transform.result(), hooks);
  }
  // A large output is written straight into the result, made ready at the
  // size the output is expected to take and then cut to the size it took.
  // Should the output outgrow it, or the result not be had at that size, the
  // output is written apart and copied as usual.
  OwnedRef result;
  char* target = nullptr;
  const size_t expected = transform.expected_output_size();
  if (expected >= kDirectResultBytes && expected <= PY_SSIZE_T_MAX && !hooks.fail_result()) {
    PyEval_RestoreThread(saved);
    result = OwnedRef{result_allocation_fails()
                          ? nullptr
                          : !fresh_memory_fits(expected) ? PyErr_NoMemory()
                          : PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(expected))};
    if (result) {
      target = PyBytes_AS_STRING(result.get());
    } else {
      PyErr_Clear();
    }
    saved = PyEval_SaveThread();
    if (target != nullptr) {
      advise_huge_pages(target, expected);
      populate_if_given_back(target, expected);
    }
  }
  transform.write(target, expected, copy.release_while_writing());
  copy.release();
  PyEval_RestoreThread(saved);
  TransformResult& written = transform.result();
  auto* outcome = std::get_if<TransformOutcome>(&written);
  if (target != nullptr && outcome != nullptr && outcome->output().in_memory(target)) {
    PyObject* bytes = result.release();
    if (resize_bytes(&bytes, static_cast<Py_ssize_t>(outcome->output().size())) != 0) {
      return result_creation_error();
    }
    return OwnedRef{bytes};
  }
  result = OwnedRef{};
  return convert(written, hooks);
}

PyObject* columnarize(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  [[maybe_unused]] const AllocationFailureCall armed;
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
