// The Python module yomika_py: the function parse_to_html and the class Document.
//
// This file only converts: it reads the caller's str as UTF-8, hands the bytes to the pipeline,
// and turns the results back into str or int (the HTML and the notation of a str of wider
// characters become UTF-16 first, through the core's UTF-16 writer). No parsing logic lives here,
// and no Python object reaches the core.
// Every conversion works on the str's own storage (py/transcode.hpp) rather than through the
// interpreter's UTF-8 codec, which cost more than the parse itself. The
// module has one execution step, which creates the Document type (once per process) and adds
// Document and parse_to_html to the module and to __all__.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <span>
#include <string_view>
#include <thread>
#include <utility>

#include "transcode.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/alloc/fatal.hpp"
#include "yomika/alloc/pages.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/html.hpp"
#include "yomika/render/serialize.hpp"
#include "yomika/wire/json.hpp"

namespace {

constexpr const char* kTypeName = "yomika_py::bindings::Document";

// ---------------------------------------------------------------------------------------------
// Argument matching: one parameter, `source`, by position or by keyword.

struct Callable {
  const char* name;  // as shown in messages, with "()"
};

constexpr Callable kParseToHtml{"parse_to_html()"};
constexpr Callable kDocumentNew{"Document.__new__()"};

PyObject* type_error(const char* format, ...) {
  va_list va;
  va_start(va, format);
  PyObject* message = PyUnicode_FromFormatV(format, va);
  va_end(va);
  if (message) {
    PyErr_SetObject(PyExc_TypeError, message);
    Py_DECREF(message);
  }
  return nullptr;
}

// Files one keyword argument. Returns false with an exception set when it is not `source` or
// when `source` already has a value.
bool match_keyword(const Callable& c, PyObject* name, PyObject* value, PyObject*& source) {
  bool is_source = false;
  if (PyUnicode_Check(name)) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &len);
    if (utf8) {
      is_source = std::string_view(utf8, static_cast<std::size_t>(len)) == "source";
    } else {
      PyErr_Clear();  // a name that cannot be UTF-8 is not "source" either
    }
  }
  if (!is_source) {
    if (PyUnicode_Check(name)) return type_error("%s got an unexpected keyword argument '%U'", c.name, name), false;
    return type_error("%s got an unexpected keyword argument '%R'", c.name, name), false;
  }
  if (source) return type_error("%s got multiple values for argument 'source'", c.name), false;
  source = value;
  return true;
}

bool check_positional(const Callable& c, Py_ssize_t nargs) {
  if (nargs <= 1) return true;
  type_error("%s takes 1 positional arguments but %zd %s given", c.name, nargs, nargs == 1 ? "was" : "were");
  return false;
}

bool check_present(const Callable& c, PyObject* source) {
  if (source) return true;
  type_error("%s missing 1 required positional argument: 'source'", c.name);
  return false;
}

// Adds "while processing 'source'" to the exception being raised.
void add_source_note() {
  PyObject* exc = PyErr_GetRaisedException();
  if (!exc) return;
  PyObject* note = PyUnicode_FromString("while processing 'source'");
  if (note) {
    PyObject* name = PyUnicode_FromString("add_note");
    if (name) {
      PyObject* args[] = {exc, note};
      PyObject* r = PyObject_VectorcallMethod(name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
      Py_XDECREF(r);
      Py_DECREF(name);
      if (!r) {
        // Losing the note is better than losing the caller's exception.
        PyErr_Clear();
      }
    } else {
      PyErr_Clear();
    }
    Py_DECREF(note);
  } else {
    PyErr_Clear();
  }
  PyErr_SetRaisedException(exc);
}

// Buffers of at least this size are fresh mappings on every call: the C library serves smaller
// ones from a heap it keeps between calls, whose pages are already present, but hands larger ones
// back to the system when they are freed. A fresh mapping is filled one 4 KiB page fault at a
// time, which cost a third of a whole parse of the books at 10 MB; asking for huge pages on such
// a buffer before its first use takes that away (see bench/RESULTS.md).
constexpr std::size_t kFreshMappingBytes = std::size_t{32} << 20;

// The source as UTF-8: a view of the str's own storage when that is ASCII and no copy is wanted,
// otherwise a malloc'd buffer of exactly the encoded length.
class SourceBytes {
 public:
  SourceBytes() = default;
  SourceBytes(const SourceBytes&) = delete;
  SourceBytes& operator=(const SourceBytes&) = delete;
  ~SourceBytes() { std::free(owned_); }

  std::string_view view() const { return view_; }
  void borrow(std::string_view v) { view_ = v; }
  bool allocate(std::size_t n) {
    if (n == 0) return true;
    owned_ = static_cast<char*>(std::malloc(n));
    if (!owned_) return false;
    yomika::advise_huge_pages(owned_, n, kFreshMappingBytes);
    view_ = std::string_view(owned_, n);
    return true;
  }
  char* data() { return owned_; }
  // Keeps the first n bytes of what allocate() gave; `give_back` returns the rest to the heap (for
  // a copy that outlives the call), otherwise it stays allocated, unread, until the buffer goes.
  void truncate(std::size_t n, bool give_back) {
    if (give_back && n > 0) {
      if (void* p = std::realloc(owned_, n)) owned_ = static_cast<char*>(p);
    }
    view_ = std::string_view(owned_, n);
  }
  // Hands the buffer (nullptr for an empty source) to the caller, who frees it with std::free.
  char* release() {
    char* p = owned_;
    owned_ = nullptr;
    return p;
  }
  void reset() {
    std::free(owned_);
    owned_ = nullptr;
    view_ = {};
  }

 private:
  char* owned_ = nullptr;
  std::string_view view_;
};

// Reads `source` as UTF-8 into `out` straight from the str's storage (one, two or four bytes per
// character). The interpreter's own UTF-8 form is neither used nor made: it would stay attached to
// the caller's string, as large as the text, for as long as the string lives. `own` asks for a
// private copy even where a view would do. A source longer than `limit` bytes raises ValueError
// before anything is allocated.
bool read_source(PyObject* source, bool own, uint64_t limit, SourceBytes& out) {
  namespace tc = yomika_py::transcode;
  if (!PyUnicode_Check(source)) {
    PyObject* qualname = PyType_GetQualName(Py_TYPE(source));
    if (qualname) {
      type_error("'%U' object is not an instance of 'str'", qualname);
      Py_DECREF(qualname);
    }
    add_source_note();
    return false;
  }
  const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(source));
  const void* chars = PyUnicode_DATA(source);
  const int kind = PyUnicode_KIND(source);
  const bool ascii = PyUnicode_IS_ASCII(source);
  if (kind == PyUnicode_2BYTE_KIND && 3 * static_cast<uint64_t>(n) <= limit && 3 * static_cast<uint64_t>(n) <= SIZE_MAX) {
    // PERF: a book in Japanese (two bytes a character) is encoded in one pass into room for its
    // longest form, three bytes a character, and takes nearly all of it; sizing it first read
    // the string twice (4 % of parse_to_html on a book). Pages past the end are never touched;
    // a copy a Document keeps gives the rest back (a str of mostly ASCII held in two bytes a
    // character would otherwise keep three times its bytes).
    if (!out.allocate(3 * n)) {
      PyErr_NoMemory();
      return false;
    }
    bool surrogate = false;
    const std::size_t bytes = tc::encode_utf8_within(static_cast<const uint16_t*>(chars), n, out.data(), surrogate);
    if (!surrogate) {
      out.truncate(bytes, own);
      return true;
    }
    out.reset();  // the codec below raises its error for the surrogate
  }
  tc::EncodedSize size{n, false};
  if (!ascii) {
    if (kind == PyUnicode_1BYTE_KIND) size = tc::utf8_size(static_cast<const uint8_t*>(chars), n);
    else if (kind == PyUnicode_2BYTE_KIND) size = tc::utf8_size(static_cast<const uint16_t*>(chars), n);
    else size = tc::utf8_size(static_cast<const uint32_t*>(chars), n);
  }
  if (size.surrogate) {
    // No UTF-8 form exists; the interpreter's codec raises its UnicodeEncodeError, as for any
    // other caller, and caches nothing when it fails.
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(source, &len);
    if (!utf8) {
      add_source_note();
      return false;
    }
    size.bytes = static_cast<uint64_t>(len);  // not reached: the codec refuses every surrogate
  }
  if (size.bytes > limit) {
    PyErr_SetString(PyExc_ValueError, "source exceeds 4 GiB (u32::MAX) span limit");
    return false;
  }
  if (size.bytes > SIZE_MAX) {
    PyErr_NoMemory();
    return false;
  }
  if (ascii && !own) {
    // The str outlives the call and the pipeline runs no Python code, so its storage serves as
    // the source directly.
    out.borrow(std::string_view(static_cast<const char*>(chars), n));
    return true;
  }
  if (!out.allocate(static_cast<std::size_t>(size.bytes))) {
    PyErr_NoMemory();
    return false;
  }
  if (size.bytes == 0) return true;
  if (ascii) std::memcpy(out.data(), chars, n);
  else if (kind == PyUnicode_1BYTE_KIND) tc::encode_utf8(static_cast<const uint8_t*>(chars), n, out.data(), size.bytes);
  else if (kind == PyUnicode_2BYTE_KIND) tc::encode_utf8(static_cast<const uint16_t*>(chars), n, out.data(), size.bytes);
  else tc::encode_utf8(static_cast<const uint32_t*>(chars), n, out.data(), size.bytes);
  return true;
}

// The HTML of this thread's last call, kept for the next one as the arena keeps its first block:
// rendering into memory whose pages are present saves a fresh mapping and its page faults per
// call (a tenth of parse_to_html's time on a book). A call takes the buffer and puts it back
// when done, so that a call made meanwhile (none is known: the pipeline runs no Python code)
// would only find it empty. Buffers past kKeptOutput go back to the system.
constexpr std::size_t kKeptOutput = std::size_t{64} << 20;
thread_local std::string t_output;

std::string take_output() { return std::move(t_output); }
void keep_output(std::string&& buffer) {
  if (buffer.capacity() <= kKeptOutput && buffer.capacity() > t_output.capacity()) t_output = std::move(buffer);
}

// Reserves the first arena block for a source of `len` bytes, as the core's policy has it; a
// refusal is MemoryError.
bool reserve_or_raise(yomika::Arena& arena, uint64_t len) {
  if (yomika::reserve_arena(arena, len)) return true;
  PyErr_NoMemory();
  return false;
}

// Below this length the interpreter's own decoder, with its cached one-character strings, is as
// quick as the two passes below.
constexpr std::size_t kShortText = 64;

// A new str from UTF-8 bytes, equal in value and representation to what
// PyUnicode_FromStringAndSize makes: the narrowest storage for its largest character, decoded
// straight into the str's buffer. Bytes that are not valid UTF-8 (which the core never writes)
// go to the interpreter's decoder, so that its UnicodeDecodeError is raised unchanged.
PyObject* str_from(std::string_view bytes) {
  namespace tc = yomika_py::transcode;
  if (bytes.size() < kShortText || bytes.size() > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
    return PyUnicode_FromStringAndSize(bytes.empty() ? "" : bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  }
  tc::DecodedShape shape = tc::utf8_shape(bytes.data(), bytes.size());
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(shape.chars), static_cast<Py_UCS4>(shape.max_char));
  if (!str) return nullptr;
  void* data = PyUnicode_DATA(str);
  yomika::advise_huge_pages(data, shape.chars * static_cast<std::size_t>(PyUnicode_KIND(str)), kFreshMappingBytes);
  bool ok = true;
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      if (PyUnicode_IS_ASCII(str)) {
        std::memcpy(data, bytes.data(), bytes.size());  // every byte below 0x80: ASCII as it stands
      } else {
        ok = tc::decode_utf8(bytes.data(), bytes.size(), static_cast<uint8_t*>(data), shape.chars);
      }
      break;
    case PyUnicode_2BYTE_KIND:
      ok = tc::decode_utf8(bytes.data(), bytes.size(), static_cast<uint16_t*>(data), shape.chars);
      break;
    default:
      ok = tc::decode_utf8(bytes.data(), bytes.size(), static_cast<uint32_t*>(data), shape.chars);
      break;
  }
  if (!ok) {
    Py_DECREF(str);
    return PyUnicode_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  }
  return str;
}

// The HTML as UTF-16, kept between calls as the UTF-8 output is (t_output). The renderer writes
// the str's characters here, and the str is made of them: rendering straight into a str allocated
// at a first guess of its length left a block of the wrong size, which the C library then served
// from fresh pages on every call.
class Utf16Store final : public yomika::render::Utf16Buffer {
 public:
  std::span<uint16_t> grow(std::size_t kept, std::size_t units) override {
    const std::size_t before = block_.bytes();
    if (units > SIZE_MAX / 2 || !block_.try_grow(units * 2, kept * 2)) throw std::bad_alloc();
    if (block_.bytes() != before) block_.advise_huge_pages(kFreshMappingBytes);
    return {static_cast<uint16_t*>(block_.data()), block_.bytes() / 2};
  }

  const uint16_t* data() const { return static_cast<const uint16_t*>(block_.data()); }
  std::size_t bytes() const { return block_.bytes(); }

 private:
  yomika::GrowBlock block_;
};

thread_local Utf16Store t_utf16;

// Back for the next call, as keep_output does with the UTF-8 output.
void keep_utf16(Utf16Store&& units) {
  if (units.bytes() <= kKeptOutput && units.bytes() > t_utf16.bytes()) t_utf16 = std::move(units);
}

// The str of a UTF-16 text, in the narrowest width that holds its characters, as every str must
// be.
//
// The str's storage is fresh memory, advised into huge pages as str_from advises its own: a
// 64 MB book's HTML in four-byte characters is 240 MB, whose first touches in small pages were
// most of the page faults of the call.
PyObject* str_of_utf16(const uint16_t* data, const yomika::render::Utf16Text& text) {
  if (text.astral) {
    const std::size_t chars = text.units - text.astral;
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(chars), 0x10FFFF);
    if (!str) return nullptr;
    yomika::advise_huge_pages(PyUnicode_DATA(str), chars * 4, kFreshMappingBytes);
    yomika_py::transcode::utf16_to_ucs4(data, text.units, static_cast<uint32_t*>(PyUnicode_DATA(str)));
    return str;
  }
  if (text.latin1) return PyUnicode_FromKindAndData(PyUnicode_2BYTE_KIND, data, static_cast<Py_ssize_t>(text.units));
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.units), 0xFFFF);
  if (!str) return nullptr;
  yomika::advise_huge_pages(PyUnicode_DATA(str), text.units * 2, kFreshMappingBytes);
  std::memcpy(PyUnicode_DATA(str), data, text.units * 2);
  return str;
}

// Text the core wrote (well-formed UTF-8) from a source held with `source_kind` bytes per
// character, as a str. Text of a book in Japanese is widened run by run as the UTF-16 renderer
// writes it (kana and kanji five at a time, without the checks any other UTF-8 needs), a third
// faster than decoding it so; any other is decoded as any UTF-8 is.
PyObject* str_from_text(std::string_view bytes, int source_kind) {
  if (source_kind == PyUnicode_1BYTE_KIND) return str_from(bytes);
  Utf16Store units = std::move(t_utf16);
  yomika::render::Utf16Text text;
  try {
    yomika::render::Utf16Out out(units, bytes.size());
    out.put(bytes.data(), bytes.size());
    text = out.finish();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  PyObject* str = str_of_utf16(units.data(), text);
  keep_utf16(std::move(units));
  return str;
}

// The HTML of a parse as a call's result. A source held with two or four bytes per character (a
// book in Japanese) has its HTML rendered as UTF-16; any other as UTF-8. `finish` makes the str,
// once the caller has given back the parse's memory.
//
// PERF: on a book, decoding UTF-8 HTML into a str took a fifth of parse_to_html; the UTF-16
// rendering is written at once in the str's own units. It is the same size as the UTF-8 HTML of
// Japanese text, so a call's peak memory is unchanged (four-byte strs are widened from it rather
// than rendered so: that rendering would be twice the size beside the parse).
class HtmlResult {
 public:
  explicit HtmlResult(int source_kind) : utf16_(source_kind != PyUnicode_1BYTE_KIND) {}

  void render(const yomika::ParseResult& result) {
    if (utf16_) {
      units_ = std::move(t_utf16);
      html_ = yomika::render::render_result_html_utf16(result, units_);
    } else {
      bytes_ = take_output();
      yomika::render::render_result_html(result, bytes_);
    }
  }

  PyObject* finish() {
    if (!utf16_) {
      PyObject* out = str_from(bytes_);
      keep_output(std::move(bytes_));
      return out;
    }
    PyObject* out = str_of_utf16(units_.data(), html_);
    keep_utf16(std::move(units_));
    return out;
  }

 private:
  bool utf16_;
  yomika::render::Utf16Text html_;
  Utf16Store units_;
  std::string bytes_;
};

PyObject* value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return nullptr;
}

// The core reports memory exhaustion by aborting; a container that throws instead ends the same
// way rather than unwinding through the interpreter.
template <class F>
auto abort_on_bad_alloc(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    yomika::fatal("memory allocation failed");
  } catch (const std::length_error&) {
    yomika::fatal("memory allocation failed");
  }
}

// ---------------------------------------------------------------------------------------------
// Document

// A Document owns a private copy of its source and the arena every parse of it allocates in.
struct DocumentObject {
  PyObject_HEAD
  char* source;                  // malloc'd copy of the UTF-8 source, nullptr when empty
  uint64_t source_len;           // its length in bytes
  int source_kind;               // bytes per character of the str it was made from
  yomika::Arena arena;           // placement-constructed in tp_new
  std::atomic<int64_t> borrows;  // calls using the document now; -1 would be an exclusive borrow
  std::thread::id owner;         // the thread that built the document
};

std::string_view source_of(const DocumentObject* d) {
  return std::string_view(d->source ? d->source : "", static_cast<std::size_t>(d->source_len));
}

// The arena's bookkeeping is updated without synchronization, so a document serves only the
// thread that built it; any other thread gets an exception and the document stays intact.
bool check_owner(DocumentObject* d) {
  if (std::this_thread::get_id() == d->owner) return true;
  PyErr_Format(PyExc_RuntimeError, "%s is unsendable, but sent to another thread", kTypeName);
  return false;
}

bool borrow(DocumentObject* d) {
  int64_t n = d->borrows.load(std::memory_order_relaxed);
  do {
    if (n == -1) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
  } while (!d->borrows.compare_exchange_weak(n, n + 1, std::memory_order_acquire, std::memory_order_relaxed));
  return true;
}

void release(DocumentObject* d) { d->borrows.fetch_sub(1, std::memory_order_release); }

// Runs `work` under the owner check and a shared borrow.
template <class F>
PyObject* with_document(PyObject* self, F&& work) {
  auto* d = reinterpret_cast<DocumentObject*>(self);
  if (!check_owner(d) || !borrow(d)) return nullptr;
  PyObject* result = work(d);
  release(d);
  return result;
}

// What a document's call returns: a JSON report, or text in the source's own characters.
enum class Output { Report, Text };

// Parses the document and hands the result to `emit`, which returns the bytes for Python. A
// report of the brackets alone (pairs and diagnostics) needs no assembly: `brackets_only` stops
// the pipeline after pairing.
template <class F>
PyObject* parse_and_emit(PyObject* self, F&& emit, bool brackets_only = false, Output output = Output::Report) {
  return with_document(self, [&](DocumentObject* d) -> PyObject* {
    std::string refusal;
    std::string bytes;
    bool ok = abort_on_bad_alloc([&] {
      yomika::YomikaDoc doc{source_of(d), &d->arena};
      yomika::ParseResult result;
      if (!(brackets_only ? yomika::pair_document(doc, result, refusal) : yomika::parse_document(doc, result, refusal)))
        return false;
      bytes = emit(result);
      return true;
    });
    if (!ok) return value_error(refusal);
    PyObject* out = output == Output::Text ? str_from_text(bytes, d->source_kind) : str_from(bytes);
    keep_output(std::move(bytes));
    return out;
  });
}

PyObject* document_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* source = nullptr;
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (!check_positional(kDocumentNew, nargs)) return nullptr;
  if (nargs == 1) source = PyTuple_GET_ITEM(args, 0);
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
      if (!match_keyword(kDocumentNew, name, value, source)) return nullptr;
    }
  }
  if (!check_present(kDocumentNew, source)) return nullptr;
  // A caller's huge string must not abort the process: the copy and the reservation are asked
  // for with checked allocations and a refusal becomes MemoryError.
  SourceBytes bytes;
  if (!read_source(source, /*own=*/true, UINT64_MAX, bytes)) return nullptr;
  const std::size_t len = bytes.view().size();
  char* copy = bytes.release();

  PyObject* empty = PyTuple_New(0);
  PyObject* self = empty ? PyBaseObject_Type.tp_new(type, empty, nullptr) : nullptr;
  Py_XDECREF(empty);
  if (!self) {
    std::free(copy);
    return nullptr;
  }
  auto* d = reinterpret_cast<DocumentObject*>(self);
  d->source = copy;
  d->source_len = len;
  d->source_kind = PyUnicode_KIND(source);
  new (&d->arena) yomika::Arena();
  new (&d->borrows) std::atomic<int64_t>(0);
  new (&d->owner) std::thread::id(std::this_thread::get_id());
  if (!reserve_or_raise(d->arena, d->source_len)) {
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

void document_dealloc(PyObject* self) {
  auto* d = reinterpret_cast<DocumentObject*>(self);
  PyTypeObject* type = Py_TYPE(self);
  if (std::this_thread::get_id() == d->owner) {
    std::free(d->source);
    d->arena.~Arena();
  } else {
    // Freeing another thread's arena would race with its owner's view of it; the memory is
    // leaked and the mistake reported instead.
    PyObject* pending = PyErr_GetRaisedException();
    PyObject* message =
        PyUnicode_FromFormat("%s is unsendable, but is being dropped on another thread", kTypeName);
    PyObject* error = message ? PyObject_CallOneArg(PyExc_RuntimeError, message) : nullptr;
    Py_XDECREF(message);
    if (error) {
      PyErr_SetRaisedException(error);
      PyErr_WriteUnraisable(nullptr);
    } else {
      PyErr_Clear();
    }
    PyErr_SetRaisedException(pending);
  }
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyObject* document_to_html(PyObject* self, PyObject*) {
  return with_document(self, [](DocumentObject* d) -> PyObject* {
    std::string refusal;
    HtmlResult html(d->source_kind);
    bool ok = abort_on_bad_alloc([&] {
      yomika::ParseResult result;
      if (!yomika::parse_document(yomika::YomikaDoc{source_of(d), &d->arena}, result, refusal)) return false;
      html.render(result);
      return true;
    });
    return ok ? html.finish() : value_error(refusal);
  });
}

PyObject* document_serialize(PyObject* self, PyObject*) {
  return parse_and_emit(
      self, [](const yomika::ParseResult& r) { return yomika::render::serialize(r, take_output()); }, false,
      Output::Text);
}

PyObject* document_nodes(PyObject* self, PyObject*) {
  return parse_and_emit(self, [](const yomika::ParseResult& r) { return yomika::wire::serialize_nodes(r.nodes, r.node_count); });
}

PyObject* document_pairs(PyObject* self, PyObject*) {
  return parse_and_emit(
      self, [](const yomika::ParseResult& r) { return yomika::wire::serialize_pairs(r.pairs, r.pair_count); }, true);
}

PyObject* document_diagnostics(PyObject* self, PyObject*) {
  return parse_and_emit(
      self, [](const yomika::ParseResult& r) { return yomika::wire::serialize_diagnostics(r.diagnostics); }, true);
}

PyObject* document_source_byte_len(PyObject* self, PyObject*) {
  return with_document(self, [](DocumentObject* d) { return PyLong_FromUnsignedLongLong(d->source_len); });
}

PyObject* document_source(PyObject* self, void*) {
  return with_document(self, [](DocumentObject* d) { return str_from(source_of(d)); });
}

PyMethodDef document_methods[] = {
    {"to_html", document_to_html, METH_NOARGS,
     "to_html($self)\n--\n\nRender the document to HTML and return as a Python `str`."},
    {"nodes", document_nodes, METH_NOARGS,
     "nodes($self)\n--\n\nSource-keyed Yomika-node spans as JSON. See\n[`yomika::wire::serialize_nodes`] for the schema."},
    {"pairs", document_pairs, METH_NOARGS,
     "pairs($self)\n--\n\nMatched open/close pair links as JSON. See\n[`yomika::wire::serialize_pairs`] for the schema."},
    {"diagnostics", document_diagnostics, METH_NOARGS,
     "diagnostics($self)\n--\n\n"
     "Diagnostics of the parse as JSON: one item per unbalanced bracket or reserved character, each\n"
     "with its kind, severity, origin and span. A parse without problems gives\n"
     "`{\"schema_version\":1,\"data\":[]}`. The format is the module's JSON wire format, shared with\n"
     "`nodes()` and `pairs()`. This method cannot fail, although its declaration allows failure."},
    {"serialize", document_serialize, METH_NOARGS, "serialize($self)\n--\n\nRe-emit Yomika source text."},
    {"source_byte_len", document_source_byte_len, METH_NOARGS, "source_byte_len($self)\n--\n\nSource byte length."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef document_getset[] = {
    {"source", document_source, nullptr, "The source text the document was parsed from.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kDocumentDoc[] =
    "Document(source)\n--\n\n"
    "The Python-facing handle to a parsed yomika document. A document is pinned to the thread that\n"
    "built it: it owns an arena whose bookkeeping may not be shared between threads, so use from\n"
    "another thread raises `RuntimeError` instead of sharing the document unsoundly.";

PyType_Slot document_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(document_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_methods, document_methods},
    {Py_tp_getset, document_getset},
    {Py_tp_doc, const_cast<char*>(kDocumentDoc)},
    {0, nullptr},
};

// The class belongs to no module of its own. A name without a dot would leave the type without
// any __module__ (and warn on creation), so the prefix "builtins" is given explicitly; the class
// still prints as plain "Document".
PyType_Spec document_spec = {
    "builtins.Document",
    static_cast<int>(sizeof(DocumentObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    document_slots,
};

// The type is created once per process and kept for its lifetime. Whoever comes first creates it
// under the lock; the lock is taken with the interpreter lock released, so a creator that lets
// the interpreter run other threads cannot deadlock with a waiter.
std::atomic<PyObject*> document_type{nullptr};
std::mutex document_type_lock;

PyObject* get_document_type() {
  PyObject* type = document_type.load(std::memory_order_acquire);
  if (type) return type;
  Py_BEGIN_ALLOW_THREADS
  document_type_lock.lock();
  Py_END_ALLOW_THREADS
  type = document_type.load(std::memory_order_acquire);
  if (!type) {
    type = PyType_FromSpec(&document_spec);
    if (type) document_type.store(type, std::memory_order_release);
  }
  document_type_lock.unlock();
  return type;
}

// ---------------------------------------------------------------------------------------------
// parse_to_html

PyObject* parse_to_html(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (!check_positional(kParseToHtml, nargs)) return nullptr;
  PyObject* source = nargs == 1 ? args[0] : nullptr;
  if (kwnames) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
      if (!match_keyword(kParseToHtml, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], source)) return nullptr;
    }
  }
  if (!check_present(kParseToHtml, source)) return nullptr;
  SourceBytes bytes;
  if (!read_source(source, /*own=*/false, yomika::kMaxSourceBytes, bytes)) return nullptr;

  // Each buffer goes as soon as nothing reads it: the source copy once the parse has made its
  // own sanitized copy in the arena (before the parse's tables grow), the arena once the HTML is
  // written. The call's peak is then the largest of three phases (parse, parse and HTML, HTML
  // and result str) rather than the sum of all four.
  std::string refusal;
  HtmlResult html(PyUnicode_KIND(source));
  bool ok = false;
  {
    yomika::Arena arena;
    if (!reserve_or_raise(arena, bytes.view().size())) return nullptr;
    ok = abort_on_bad_alloc([&] {
      yomika::ParseResult result;
      if (!yomika::parse_document(yomika::YomikaDoc{bytes.view(), &arena}, result, refusal, [&] { bytes.reset(); }))
        return false;
      html.render(result);
      return true;
    });
  }
  bytes.reset();
  return ok ? html.finish() : value_error(refusal);
}

PyMethodDef parse_to_html_def = {
    "parse_to_html", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse_to_html)),
    METH_FASTCALL | METH_KEYWORDS, "parse_to_html(source)\n--\n\nConvenience: parse + render in one call."};

// ---------------------------------------------------------------------------------------------
// Module

// Sets the attribute and appends its name to __all__, creating the list on first use.
bool add_to_module(PyObject* module, const char* name, PyObject* value) {
  PyObject* key = PyUnicode_FromString(name);
  if (!key) return false;
  bool ok = PyObject_SetAttr(module, key, value) == 0;
  if (ok) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all && PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      all = PyList_New(0);
      if (all && PyObject_SetAttrString(module, "__all__", all) != 0) Py_CLEAR(all);
    }
    ok = all && PyList_Check(all) && PyList_Append(all, key) == 0;
    if (all && !PyList_Check(all)) PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    Py_XDECREF(all);
  }
  Py_DECREF(key);
  return ok;
}

int module_exec(PyObject* module) {
  PyObject* type = get_document_type();
  if (!type || !add_to_module(module, "Document", type)) return -1;

  PyObject* module_name = PyModule_GetNameObject(module);
  if (!module_name) return -1;
  PyObject* function = PyCMethod_New(&parse_to_html_def, module, module_name, nullptr);
  Py_DECREF(module_name);
  if (!function) return -1;
  bool ok = add_to_module(module, "parse_to_html", function);
  Py_DECREF(function);
  return ok ? 0 : -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    // The Document type is one object for the whole process; another interpreter must not see it.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "yomika_py",
    "Convert text in the yomika e-text notation to HTML, JSON structure reports and notation text.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_yomika_py(void) { return PyModuleDef_Init(&module_def); }
