// The module definition, its init export and its execution step, which adds
// the one function (call.cpp).
#include "lib/python_compat.h"

#include "lib/call.h"
#include "lib/errors.h"
#include "lib/test_hooks.h"
#include "support/fault.h"

namespace tamsel::py {

namespace {

// `__all__` of `module` as a list, created empty if the module has none.
Result<OwnedRef> all_list(PyObject* module) {
  OwnedRef all{PyObject_GetAttr(module, interned(Name::dunder_all))};
  if (all) {
    if (!PyList_Check(all.get())) return type_error(cast_message(all.get(), "list"));
    return all;
  }
  Error lookup = fetch_error();
  if (!lookup.is_fetched() ||
      !PyErr_GivenExceptionMatches(lookup.exception(), PyExc_AttributeError)) {
    return lookup;
  }
  OwnedRef fresh{PyList_New(0)};
  if (!fresh) raise_null_object_fault();
  if (PyObject_SetAttr(module, interned(Name::dunder_all), fresh.get()) < 0) return fetch_error();
  return fresh;
}

Status exec_body(PyObject* module) {
  if (!PyModule_Check(module)) return type_error(cast_message(module, "module"));

  OwnedRef function;
  {
    OwnedRef module_name{PyModule_GetNameObject(module)};
    if (!module_name) return fetch_error();
    function = OwnedRef{PyCMethod_New(&columnarize_method, module, module_name.get(), nullptr)};
  }
  if (!function) return fetch_error();

  OwnedRef name{PyObject_GetAttr(function.get(), interned(Name::dunder_name))};
  if (!name) return fetch_error();
  if (!PyUnicode_Check(name.get())) return type_error(cast_message(name.get(), "str"));

  {
    Result<OwnedRef> all = all_list(module);
    if (!all.ok()) return std::move(all.error());
    if (PyList_Append(all.value().get(), name.get()) < 0) {
      raise_fault("could not append __name__ to __all__: " + describe_error(fetch_error()));
    }
  }

  if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return fetch_error();
  return kDone;
}

int module_exec(PyObject* module) {
  return run_entry<std::monostate>([module] { return exec_body(module); }) ? 0 : -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    TAMSEL_GIL_NOT_USED_SLOT
    TAMSEL_TEST_HOOK_SLOTS
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tamsel_codec",  // m_name
    "",              // m_doc
    0,               // m_size
    nullptr,         // m_methods: the execution step adds the function
    module_slots,    // m_slots
    nullptr,         // m_traverse
    nullptr,         // m_clear
    nullptr,         // m_free
};

}  // namespace

}  // namespace tamsel::py

PyMODINIT_FUNC PyInit_tamsel_codec(void) { return PyModuleDef_Init(&tamsel::py::module_def); }
