// yomika_cli._native: the converter's private window on the core. Every reported span indexes the
// sanitized text; this module carries such offsets back to the text the converter read, so that
// diagnostics can name lines and columns of the file. The public module yomika_py keeps its own
// surface; this one is for the converter only.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/render/book.hpp"

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

// A new list of make(item) for each item; null, with the error set, when any fails.
template <class T, class Make>
PyObject* list_of(const std::vector<T>& items, Make make) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
  for (std::size_t i = 0; list && i < items.size(); ++i) {
    PyObject* item = make(items[i]);
    if (!item) {
      Py_CLEAR(list);
      break;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PyObject* counts_of(const std::map<std::string, std::size_t>& counts) {
  PyObject* d = PyDict_New();
  for (auto it = counts.begin(); d && it != counts.end(); ++it) {
    if (!put(d, it->first.c_str(), PyLong_FromSize_t(it->second))) Py_CLEAR(d);
  }
  return d;
}

PyObject* book_dict(const reader::Book& b) {
  PyObject* d = PyDict_New();
  if (!d) return nullptr;
  const bool ok =
      put(d, "title", str_of(b.title)) && put(d, "subtitle", str_of(b.subtitle)) &&
      put(d, "author", str_of(b.author)) && put(d, "title_block", str_of(b.title_block)) &&
      put(d, "legend", str_of(b.legend)) && put(d, "colophon", str_of(b.colophon)) &&
      put(d, "contents", str_of(b.contents)) && put(d, "amount_rules", str_of(b.body.amounts.css())) &&
      put(d, "contributors", list_of(b.contributors, [](const std::string& s) { return str_of(s); })) &&
      put(d, "sections", list_of(b.body.sections, [](const reader::Section& s) {
            return Py_BuildValue("{s:s#,s:s,s:O}", "html", s.html.data(), static_cast<Py_ssize_t>(s.html.size()),
                                 "break", break_name(s.starts_with), "centered", s.centered ? Py_True : Py_False);
          })) &&
      put(d, "headings", list_of(b.body.headings, [](const reader::Heading& h) {
            return Py_BuildValue("{s:i,s:s,s:s#,s:s#,s:n}", "level", static_cast<int>(h.level), "form",
                                 form_name(h.form), "id", h.id.data(), static_cast<Py_ssize_t>(h.id.size()), "text",
                                 h.text.data(), static_cast<Py_ssize_t>(h.text.size()), "section",
                                 static_cast<Py_ssize_t>(h.section));
          })) &&
      put(d, "warnings", list_of(b.body.warnings, [](const reader::PageWarning& w) {
            const char* kind =
                w.kind == reader::PageWarning::Kind::BlockLeftOpen ? "block_left_open" : "block_close_without_open";
            return Py_BuildValue("{s:s,s:I,s:s#}", "kind", kind, "offset", static_cast<unsigned>(w.offset), "note",
                                 w.note.data(), static_cast<Py_ssize_t>(w.note.size()));
          })) &&
      put(d, "undrawn", counts_of(b.body.undrawn));
  if (!ok) Py_CLEAR(d);
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
