#include "lib/interned.h"

#include "lib/errors.h"

namespace tamsel::py {

constinit Interned interned_name{"__name__"};
constinit Interned interned_all{"__all__"};
constinit Interned interned_add_note{"add_note"};
constinit Interned interned_io{"io"};
constinit Interned interned_string_io{"StringIO"};
constinit Interned interned_getvalue{"getvalue"};

PyObject* Interned::get() {
  return cell_.get_or_create([this] {
    PyObject* text =
        PyUnicode_FromStringAndSize(text_.data(), static_cast<Py_ssize_t>(text_.size()));
    if (text == nullptr) raise_null_object_fault();
    PyUnicode_InternInPlace(&text);
    if (text == nullptr) raise_null_object_fault();
    return text;
  });
}

}  // namespace tamsel::py
