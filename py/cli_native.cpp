// yomika_cli._native: the converter's private window on the core. It exposes the sanitized text,
// which every reported span indexes, so that the command line can turn spans into lines and
// columns. The public module yomika_py keeps its own surface; this one is for the converter only.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/render/book.hpp"

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

namespace reader = yomika::render::reader;

PyObject* str_of(std::string_view s) { return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())); }

// Sets d[key] = value and drops the reference to value; false (with the error set) on failure.
bool put(PyObject* d, const char* key, PyObject* value) {
  if (!value) return false;
  int rc = PyDict_SetItemString(d, key, value);
  Py_DECREF(value);
  return rc == 0;
}

const char* break_name(reader::Break b) {
  switch (b) {
    case reader::Break::Page: return "page";
    case reader::Break::Choho: return "choho";
    case reader::Break::Dan: return "dan";
    case reader::Break::Spread: return "spread";
    case reader::Break::Heading: return "heading";
    case reader::Break::None: break;
  }
  return "none";
}

const char* form_name(reader::HeadingForm f) {
  switch (f) {
    case reader::HeadingForm::RunIn: return "run-in";
    case reader::HeadingForm::Window: return "window";
    case reader::HeadingForm::Line: break;
  }
  return "line";
}

PyObject* book_dict(const reader::Book& b) {
  PyObject* d = PyDict_New();
  if (!d) return nullptr;
  bool ok = put(d, "title", str_of(b.title)) && put(d, "subtitle", str_of(b.subtitle)) &&
            put(d, "author", str_of(b.author)) && put(d, "title_block", str_of(b.title_block)) &&
            put(d, "legend", str_of(b.legend)) && put(d, "colophon", str_of(b.colophon)) &&
            put(d, "contents", str_of(b.contents)) && put(d, "amount_rules", str_of(b.body.amounts.css()));
  PyObject* list = ok ? PyList_New(0) : nullptr;
  ok = ok && list;
  for (std::size_t i = 0; ok && i < b.contributors.size(); ++i) {
    PyObject* s = str_of(b.contributors[i]);
    ok = s && PyList_Append(list, s) == 0;
    Py_XDECREF(s);
  }
  ok = ok && put(d, "contributors", list);
  list = ok ? PyList_New(0) : nullptr;
  ok = ok && list;
  for (std::size_t i = 0; ok && i < b.body.sections.size(); ++i) {
    const reader::Section& s = b.body.sections[i];
    PyObject* item = Py_BuildValue("{s:s#,s:s,s:O}", "html", s.html.data(), static_cast<Py_ssize_t>(s.html.size()),
                                   "break", break_name(s.starts_with), "centered", s.centered ? Py_True : Py_False);
    ok = item && PyList_Append(list, item) == 0;
    Py_XDECREF(item);
  }
  ok = ok && put(d, "sections", list);
  list = ok ? PyList_New(0) : nullptr;
  ok = ok && list;
  for (std::size_t i = 0; ok && i < b.body.headings.size(); ++i) {
    const reader::Heading& h = b.body.headings[i];
    PyObject* item = Py_BuildValue("{s:i,s:s,s:s#,s:s#,s:n}", "level", static_cast<int>(h.level), "form", form_name(h.form),
                                   "id", h.id.data(), static_cast<Py_ssize_t>(h.id.size()), "text", h.text.data(),
                                   static_cast<Py_ssize_t>(h.text.size()), "section", static_cast<Py_ssize_t>(h.section));
    ok = item && PyList_Append(list, item) == 0;
    Py_XDECREF(item);
  }
  ok = ok && put(d, "headings", list);
  list = ok ? PyList_New(0) : nullptr;
  ok = ok && list;
  for (std::size_t i = 0; ok && i < b.body.warnings.size(); ++i) {
    const reader::PageWarning& w = b.body.warnings[i];
    const char* kind = w.kind == reader::PageWarning::Kind::BlockLeftOpen ? "block_left_open" : "block_close_without_open";
    PyObject* item = Py_BuildValue("{s:s,s:I,s:s#}", "kind", kind, "offset", static_cast<unsigned>(w.offset), "note",
                                   w.note.data(), static_cast<Py_ssize_t>(w.note.size()));
    ok = item && PyList_Append(list, item) == 0;
    Py_XDECREF(item);
  }
  ok = ok && put(d, "warnings", list);
  PyObject* undrawn = ok ? PyDict_New() : nullptr;
  ok = ok && undrawn;
  for (auto it = b.body.undrawn.begin(); ok && it != b.body.undrawn.end(); ++it) {
    PyObject* n = PyLong_FromSize_t(it->second);
    ok = n && PyDict_SetItemString(undrawn, it->first.c_str(), n) == 0;
    Py_XDECREF(n);
  }
  ok = ok && put(d, "undrawn", undrawn);
  if (!ok) {
    Py_DECREF(d);
    return nullptr;
  }
  return d;
}

PyObject* render_book(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"", "keep_legend", "picture", nullptr};
  PyObject* text = nullptr;
  int keep_legend = 0;
  PyObject* picture = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "U|$pO:render_book", const_cast<char**>(keywords), &text, &keep_legend,
                                   &picture))
    return nullptr;
  if (picture != Py_None && !PyCallable_Check(picture)) {
    PyErr_SetString(PyExc_TypeError, "picture must be callable or None");
    return nullptr;
  }
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &len);
  if (!utf8) return nullptr;

  reader::BookOptions options;
  options.keep_legend = keep_legend != 0;
  bool failed = false;
  if (picture != Py_None) {
    // Asked once per picture note; an exception in the callable ends the call with it.
    options.picture = [&](std::string_view file) -> std::optional<std::string> {
      if (failed) return std::nullopt;
      PyObject* name = str_of(file);
      PyObject* got = name ? PyObject_CallOneArg(picture, name) : nullptr;
      Py_XDECREF(name);
      if (!got) {
        failed = true;
        return std::nullopt;
      }
      std::optional<std::string> src;
      if (got != Py_None) {
        Py_ssize_t n = 0;
        const char* s = PyUnicode_Check(got) ? PyUnicode_AsUTF8AndSize(got, &n) : nullptr;
        if (!s) {
          if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "picture must return a str or None");
          failed = true;
        } else {
          src.emplace(s, static_cast<std::size_t>(n));
        }
      }
      Py_DECREF(got);
      return src;
    };
  }
  reader::Book book;
  std::string refusal;
  if (!reader::render_book(std::string_view(utf8, static_cast<std::size_t>(len)), options, book, refusal)) {
    if (!failed) PyErr_SetString(PyExc_ValueError, refusal.c_str());
    return nullptr;
  }
  if (failed) return nullptr;
  return book_dict(book);
}

PyMethodDef methods[] = {
    {"render_book", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(render_book)), METH_VARARGS | METH_KEYWORDS,
     "render_book($module, text, /, *, keep_legend=False, picture=None)\n--\n\nThe reader's page of a text: its parts, "
     "sections, headings and contents, the rules for its amounts, the notes it cannot draw and the blocks it leaves "
     "unbalanced. picture(file) gives a picture's src, or None when there is no such file."},
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
