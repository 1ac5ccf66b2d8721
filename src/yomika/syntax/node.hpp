// The node model: node variants, their arena records, Content and the small enumerations.
#pragma once

#include <cstdint>
#include <string_view>

namespace yomika {

enum class NodeKind : uint8_t {
  Ruby = 0,
  Bouten = 1,
  TateChuYoko = 2,
  Gaiji = 3,
  Indent = 4,
  AlignEnd = 5,
  Warichu = 6,
  Keigakomi = 7,
  PageBreak = 8,
  SectionBreak = 9,
  Heading = 10,
  HeadingHint = 11,
  Sashie = 12,
  Kaeriten = 13,
  Annotation = 14,
  DoubleRuby = 15,
  Container = 16,
};

enum class BoutenKind : uint8_t {
  Goma = 0, WhiteSesame = 1, Circle = 2, WhiteCircle = 3, DoubleCircle = 4, Janome = 5,
  Cross = 6, WhiteTriangle = 7, WavyLine = 8, UnderLine = 9, DoubleUnderLine = 10,
};
enum class BoutenPosition : uint8_t { Right = 0, Left = 1 };
enum class SectionBreakKind : uint8_t { Choho = 0, Dan = 1, Spread = 2 };
enum class ContainerKind : uint8_t { Indent = 0, Warichu = 1, Keigakomi = 2, AlignEnd = 3 };
enum class AnnotationKind : uint8_t { Verbatim = 0, WarichuOpen = 4, WarichuClose = 5 };

// The five bracket kinds of the notation, as pairing matches them: ［］ 《》 《《》》 〔〕 「」.
enum class PairKind : uint8_t { Bracket = 0, Ruby = 1, DoubleRuby = 2, Tortoise = 3, Quote = 4 };

struct GaijiRec;
struct AnnotationRec;

enum class SegmentCode : uint8_t { Text = 0, Gaiji = 1, Annotation = 2 };

struct Segment {
  SegmentCode code;
  std::string_view text;         // Text
  const GaijiRec* gaiji;         // Gaiji
  const AnnotationRec* annotation;  // Annotation
};

// Text that may hold nested gaiji and annotations: one plain text, or a list of segments.
//
// PERF: sixteen bytes, a pointer and a count for either form (a ruby record holds two). With a
// view and a segment list side by side a ruby record took 88 bytes, and the records of a book
// dense with ruby pushed its parse past the arena's first block.
struct Content {
  enum class Form : uint8_t { Plain = 0, Segments = 1, Absent = 2 };
  Form form = Form::Segments;
  uint32_t count = 0;          // Plain: bytes of the text; Segments: segments
  const void* data = nullptr;  // Plain: the text's bytes; Segments: the first segment

  // Node strings are parts of a source of at most 4 GiB.
  static Content plain(std::string_view s) { return Content{Form::Plain, static_cast<uint32_t>(s.size()), s.data()}; }
  static Content segments_of(const Segment* s, uint32_t n) { return Content{Form::Segments, n, s}; }
  static Content absent() { return Content{Form::Absent, 0, nullptr}; }
  std::string_view text() const {  // Plain
    return form == Form::Plain ? std::string_view(static_cast<const char*>(data), count) : std::string_view();
  }
  const Segment* segments() const {  // Segments
    return form == Form::Segments ? static_cast<const Segment*>(data) : nullptr;
  }
  std::size_t length() const { return form == Form::Absent ? 0 : count; }
  bool empty() const { return length() == 0; }
};

struct RubyRec {
  Content base;
  Content reading;
  bool explicit_;
};
struct BoutenRec {
  Content target;
  BoutenPosition position;
  bool target_adjacent;
  BoutenKind kind;
};
struct TateChuYokoRec {
  Content text;
  bool target_adjacent;
};

struct GaijiResolution {
  enum class State : uint8_t { Unresolved = 0, Char = 1, Text = 2 };
  State state = State::Unresolved;
  uint32_t ch = 0;        // Char
  std::string_view text;  // Text: static UTF-8 of two code points
};

struct GaijiRec {
  GaijiResolution resolved;
  std::string_view description;
  bool has_mention;
  std::string_view mention;
};
struct HeadingHintRec {
  std::string_view target;
  uint8_t level;
};
struct SashieRec {
  Content caption;  // Absent in everything the parser builds
  std::string_view file;
};
struct KaeritenRec {
  std::string_view mark;
};
struct AnnotationRec {
  std::string_view raw;
  AnnotationKind kind;
};
struct DoubleRubyRec {
  Content content;
};

// A small copyable value: a variant code, two inline bytes, or one reference to an arena record.
struct YomikaNode {
  NodeKind kind;
  uint8_t a = 0;  // Indent amount, AlignEnd offset, SectionBreakKind, ContainerKind
  uint8_t b = 0;  // Container amount
  const void* rec = nullptr;

  const RubyRec& ruby() const { return *static_cast<const RubyRec*>(rec); }
  const BoutenRec& bouten() const { return *static_cast<const BoutenRec*>(rec); }
  const TateChuYokoRec& tcy() const { return *static_cast<const TateChuYokoRec*>(rec); }
  const GaijiRec& gaiji() const { return *static_cast<const GaijiRec*>(rec); }
  const HeadingHintRec& heading_hint() const { return *static_cast<const HeadingHintRec*>(rec); }
  const SashieRec& sashie() const { return *static_cast<const SashieRec*>(rec); }
  const KaeritenRec& kaeriten() const { return *static_cast<const KaeritenRec*>(rec); }
  const AnnotationRec& annotation() const { return *static_cast<const AnnotationRec*>(rec); }
  const DoubleRubyRec& double_ruby() const { return *static_cast<const DoubleRubyRec*>(rec); }

  static YomikaNode simple(NodeKind k, uint8_t a = 0, uint8_t b = 0) { return YomikaNode{k, a, b, nullptr}; }
  bool is_block() const {
    return kind == NodeKind::PageBreak || kind == NodeKind::SectionBreak || kind == NodeKind::Heading ||
           kind == NodeKind::Sashie;
  }
};

}  // namespace yomika
