// Attribute names as interned str objects, each made once per process.
#pragma once

#include "lib/python_api.h"

#include <string_view>

#include "lib/once_cell.h"

namespace tamsel::py {

class Interned {
 public:
  explicit constexpr Interned(std::string_view text) : text_(text) {}

  // The interned str (borrowed), created on first use. Requires an attached
  // thread; a failure to create it is the internal fault
  // "PyObject pointer is null".
  PyObject* get();

 private:
  std::string_view text_;
  OnceCell cell_;
};

extern Interned interned_name;      // "__name__"
extern Interned interned_all;       // "__all__"
extern Interned interned_add_note;  // "add_note"
extern Interned interned_io;        // "io"
extern Interned interned_string_io; // "StringIO"
extern Interned interned_getvalue;  // "getvalue"

}  // namespace tamsel::py
