// Node constructors: intern, allocate the record in the arena, enforce the model's invariants.
#include "yomika/syntax/alloc.hpp"

#include <string>

#include "yomika/alloc/fatal.hpp"

namespace yomika::syntax {

namespace {
template <class T>
T* make_rec(Interner& in) {
  return static_cast<T*>(in.arena().alloc(sizeof(T), alignof(T)));
}

// Re-interns the strings a Content refers to, so that records never point at temporaries.
Content own(Interner& in, const Content& c) {
  if (c.form == Content::Form::Plain) return Content::plain(in.intern(c.text()));
  return c;  // segment arrays are built in the arena by content_from_segments
}

// The same, written into the record field by field.
//
// PERF: a Content (40 bytes) passed by value is stored field by field by the caller; building the
// record from whole copies read those fields back with 16-byte loads across several smaller
// stores, a store-forwarding stall each (about a twentieth of the time of a text dense with ruby).
void own_into(Interner& in, const Content& c, Content& dst) {
  dst.form = c.form;
  dst.count = c.count;
  dst.data = c.form == Content::Form::Plain ? in.intern(c.text()).data() : c.data;
}
}  // namespace

YomikaNode make_ruby(Interner& in, const Content& base, const Content& reading, bool explicit_) {
  if (base.empty()) fatal("Phase 3 must emit Ruby with non-empty base");
  if (reading.empty()) fatal("Phase 3 must emit Ruby with non-empty reading");
  auto* r = make_rec<RubyRec>(in);
  own_into(in, base, r->base);
  own_into(in, reading, r->reading);
  r->explicit_ = explicit_;
  return YomikaNode{NodeKind::Ruby, 0, 0, r};
}

YomikaNode make_bouten(Interner& in, const Content& target, BoutenKind kind, BoutenPosition pos, bool adjacent) {
  if (target.empty()) fatal("Phase 3 must emit Bouten with a resolved non-empty target");
  auto* r = make_rec<BoutenRec>(in);
  *r = BoutenRec{own(in, target), pos, adjacent, kind};
  return YomikaNode{NodeKind::Bouten, 0, 0, r};
}

YomikaNode make_tate_chu_yoko(Interner& in, const Content& text, bool adjacent) {
  if (text.empty()) fatal("Phase 3 must emit TateChuYoko with non-empty text");
  auto* r = make_rec<TateChuYokoRec>(in);
  *r = TateChuYokoRec{own(in, text), adjacent};
  return YomikaNode{NodeKind::TateChuYoko, 0, 0, r};
}

YomikaNode make_gaiji(Interner& in, std::string_view description, GaijiResolution resolved,
                      std::optional<std::string_view> mention) {
  auto* r = make_rec<GaijiRec>(in);
  *r = GaijiRec{resolved, in.intern(description), mention.has_value(),
                mention ? in.intern(*mention) : std::string_view()};
  return YomikaNode{NodeKind::Gaiji, 0, 0, r};
}

YomikaNode make_heading_hint(Interner& in, std::string_view target, uint8_t level) {
  std::string_view t = in.intern(target);
  if (t.empty()) fatal("Phase 3 must emit HeadingHint with non-empty target");
  auto* r = make_rec<HeadingHintRec>(in);
  *r = HeadingHintRec{t, level};
  return YomikaNode{NodeKind::HeadingHint, 0, 0, r};
}

YomikaNode make_sashie(Interner& in, std::string_view file, const Content& caption) {
  std::string_view f = in.intern(file);
  if (f.empty()) fatal("Phase 3 must emit Sashie with non-empty file path");
  auto* r = make_rec<SashieRec>(in);
  *r = SashieRec{caption.form == Content::Form::Absent ? caption : own(in, caption), f};
  return YomikaNode{NodeKind::Sashie, 0, 0, r};
}

YomikaNode make_kaeriten(Interner& in, std::string_view mark) {
  std::string_view m = in.intern(mark);
  if (m.empty()) fatal("Phase 3 must emit Kaeriten with non-empty mark");
  auto* r = make_rec<KaeritenRec>(in);
  *r = KaeritenRec{m};
  return YomikaNode{NodeKind::Kaeriten, 0, 0, r};
}

const AnnotationRec* make_annotation(Interner& in, std::string_view raw, AnnotationKind kind) {
  std::string_view s = in.intern(raw);
  if (s.empty()) fatal("Phase 3 must emit Annotation with non-empty raw bytes");
  auto* r = make_rec<AnnotationRec>(in);
  *r = AnnotationRec{s, kind};
  return r;
}

YomikaNode make_double_ruby(Interner& in, const Content& content) {
  auto* r = make_rec<DoubleRubyRec>(in);
  *r = DoubleRubyRec{own(in, content)};
  return YomikaNode{NodeKind::DoubleRuby, 0, 0, r};
}

Content content_from_segments(Interner& in, const std::vector<Segment>& segments) {
  if (segments.empty()) return Content::segments_of(nullptr, 0);
  bool all_text = true;
  for (const Segment& s : segments) all_text = all_text && s.code == SegmentCode::Text;
  if (all_text) {
    std::string joined;
    for (const Segment& s : segments) joined.append(s.text);
    return Content::plain(in.intern(joined));
  }
  Segment* arr = in.arena().alloc_array<Segment>(segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    arr[i] = segments[i];
    if (arr[i].code == SegmentCode::Text) arr[i].text = in.intern(arr[i].text);
  }
  return Content::segments_of(arr, static_cast<uint32_t>(segments.size()));
}

}  // namespace yomika::syntax
