// yomika_cli._native: the converter's private window on the core. It exposes the sanitized text,
// which every reported span indexes, so that the command line can turn spans into lines and
// columns. The public module yomika_py keeps its own surface; this one is for the converter only.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <vector>

#include "yomika/pipeline/lexer/phase0_sanitize.hpp"

namespace {

PyObject* sanitize(PyObject*, PyObject* arg) {
  if (!PyUnicode_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not an instance of 'str'", Py_TYPE(arg)->tp_name);
    return nullptr;
  }
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(arg, &len);
  if (!utf8) return nullptr;
  yomika::lex::Sanitized out;
  std::vector<yomika::Diagnostic> warnings;
  yomika::lex::sanitize(std::string_view(utf8, static_cast<std::size_t>(len)), out, warnings);
  return PyUnicode_FromStringAndSize(out.text.data(), static_cast<Py_ssize_t>(out.text.size()));
}

PyMethodDef methods[] = {
    {"sanitize", sanitize, METH_O, "sanitize($module, text, /)\n--\n\nThe text as the parser reads it (all reported spans index it)."},
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
