// Node constructors: each interns its strings, allocates its record and checks its invariant.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "yomika/syntax/intern.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika::syntax {

YomikaNode make_ruby(Interner& in, const Content& base, const Content& reading, bool explicit_);
YomikaNode make_bouten(Interner& in, const Content& target, BoutenKind kind, BoutenPosition pos, bool adjacent);
YomikaNode make_tate_chu_yoko(Interner& in, const Content& text, bool adjacent);
YomikaNode make_gaiji(Interner& in, std::string_view description, GaijiResolution resolved,
                      std::optional<std::string_view> mention);
YomikaNode make_heading_hint(Interner& in, std::string_view target, uint8_t level);
YomikaNode make_sashie(Interner& in, std::string_view file, const Content& caption);
YomikaNode make_kaeriten(Interner& in, std::string_view mark);
const AnnotationRec* make_annotation(Interner& in, std::string_view raw, AnnotationKind kind);
YomikaNode make_double_ruby(Interner& in, const Content& content);  // content checked non-empty by the caller

// Adjacent Text segments only are merged into one Plain string; any other segment keeps the list.
Content content_from_segments(Interner& in, const std::vector<Segment>& segments);

}  // namespace yomika::syntax
