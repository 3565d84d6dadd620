// The one way this module includes the CPython C API, first in every file of
// src/lib (Python.h must come before any standard header), with stand-ins
// for the few calls this module uses that older interpreters lack, so that
// the rest of src/lib is written once against the current API. Each one does
// what the real call does, through the nearest public call the older
// interpreter has.
#pragma once

#include <Python.h>

#include <new>
#include <string>

// 3.11: no single-object exception state yet. The exception object carries
// its traceback, as the 3.12 calls keep it.
#if PY_VERSION_HEX < 0x030C0000
static inline PyObject* PyErr_GetRaisedException(void) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) {
    PyException_SetTraceback(value, traceback);
    Py_DECREF(traceback);
  }
  Py_DECREF(type);
  return value;
}

static inline void PyErr_SetRaisedException(PyObject* exception) {
  if (exception == nullptr) {
    PyErr_Restore(nullptr, nullptr, nullptr);
    return;
  }
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
  Py_INCREF(type);
  PyErr_Restore(type, exception, PyException_GetTraceback(exception));
}
#endif

// Before 3.14: no public str writer. UTF-8 is gathered here and decoded
// strictly when finished, so bad UTF-8 fails as it would while writing.
#if PY_VERSION_HEX < 0x030E0000
struct PyUnicodeWriter {
  std::string utf8;
};

static inline PyUnicodeWriter* PyUnicodeWriter_Create(Py_ssize_t /*length*/) {
  auto* writer = new (std::nothrow) PyUnicodeWriter;
  if (writer == nullptr) PyErr_NoMemory();
  return writer;
}

static inline int PyUnicodeWriter_WriteUTF8(PyUnicodeWriter* writer, const char* text,
                                            Py_ssize_t size) {
  writer->utf8.append(text, static_cast<size_t>(size));
  return 0;
}

static inline void PyUnicodeWriter_Discard(PyUnicodeWriter* writer) { delete writer; }

static inline PyObject* PyUnicodeWriter_Finish(PyUnicodeWriter* writer) {
  PyObject* text = PyUnicode_DecodeUTF8(writer->utf8.data(),
                                        static_cast<Py_ssize_t>(writer->utf8.size()), "strict");
  delete writer;
  return text;
}
#endif

// The slot that tells the interpreter this module does not need its lock.
// Interpreters before 3.13 have no such slot (and always have the lock).
#if PY_VERSION_HEX >= 0x030D0000
#define TAMSEL_GIL_NOT_USED_SLOT {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#else
#define TAMSEL_GIL_NOT_USED_SLOT
#endif
