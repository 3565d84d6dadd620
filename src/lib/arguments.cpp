#include "lib/arguments.h"

#include <string>

#include "lib/interned.h"
#include "lib/owned_ref.h"

namespace tamsel::py {

namespace {

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
    OwnedRef added{PyObject_VectorcallMethod(interned_add_note.get(), call_args,
                                             2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)};
    if (!added) discard_error();
  } else {
    discard_error();
  }
  return Error::fetched(std::move(exception));
}

}  // namespace

Result<ArgumentSlots> parse_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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

Result<std::string_view> extract_payload(PyObject* payload) {
  if (!PyType_HasFeature(Py_TYPE(payload), Py_TPFLAGS_BYTES_SUBCLASS)) {
    return with_note(type_error(cast_message(payload, "bytes")), kPayload);
  }
  // A bytes object (or subclass), checked above: its fields are read directly.
  return std::string_view(PyBytes_AS_STRING(payload), static_cast<size_t>(PyBytes_GET_SIZE(payload)));
}

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

}  // namespace tamsel::py
