// STUB: replaced by the module boundary.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef_Slot slots[] = {{0, nullptr}};
static PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "yomika_py", nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit_yomika_py(void) { return PyModuleDef_Init(&module_def); }
