// yomika_cli._native: the converter's private window on the core. Every reported span indexes the
// sanitized text; this module carries such offsets back to the text the converter read, so that
// diagnostics can name lines and columns of the file. The public module yomika_py keeps its own
// surface; this one is for the converter only.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>

#include "yomika/pipeline/lexer/phase0_sanitize.hpp"

namespace {

PyObject* source_offsets(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "source_offsets() takes exactly 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  if (!PyUnicode_Check(args[0])) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not an instance of 'str'", Py_TYPE(args[0])->tp_name);
    return nullptr;
  }
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(args[0], &len);
  if (!utf8) return nullptr;
  yomika::lex::SourceMap map;
  try {
    // Only files with diagnostics get here, so the map is planned once per such file.
    map = yomika::lex::source_map(std::string_view(utf8, static_cast<std::size_t>(len)));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  PyObject* offsets = PySequence_Fast(args[1], "offsets must be a sequence of int");
  if (!offsets) return nullptr;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(offsets);
  PyObject* result = PyList_New(count);
  for (Py_ssize_t i = 0; result && i < count; ++i) {
    const Py_ssize_t offset = PyLong_AsSsize_t(PySequence_Fast_GET_ITEM(offsets, i));
    PyObject* item = nullptr;
    if (offset >= 0 && static_cast<std::size_t>(offset) <= map.sanitized_size) {
      item = PyLong_FromSize_t(map.to_source(static_cast<std::size_t>(offset)));
    } else if (!PyErr_Occurred()) {
      PyErr_Format(PyExc_ValueError, "offset %zd is outside the sanitized text (%zu bytes)", offset,
                   map.sanitized_size);
    }
    if (!item) {
      Py_CLEAR(result);
      break;
    }
    PyList_SET_ITEM(result, i, item);
  }
  Py_DECREF(offsets);
  return result;
}

PyMethodDef methods[] = {
    {"source_offsets", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(source_offsets)), METH_FASTCALL,
     "source_offsets($module, text, offsets, /)\n--\n\n"
     "For byte offsets of the sanitized text of `text` (as reported spans give them), the byte offsets\n"
     "in the UTF-8 form of `text` they came from."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_native", "Private helpers of the yomika converter.", 0, methods,
                          slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&module_def); }
