// Wire names of the node kinds.
#include "yomika/syntax/node.hpp"

namespace yomika {

namespace {
constexpr std::string_view kNodeKindNames[] = {
    "ruby",     "bouten",       "tateChuYoko", "gaiji",   "indent",     "alignEnd",   "warichu",
    "keigakomi", "pageBreak",   "sectionBreak", "heading", "headingHint", "sashie",   "kaeriten",
    "annotation", "doubleRuby", "container",   "containerOpen", "containerClose",
};
}  // namespace

std::string_view node_kind_name(uint8_t code) {
  return code < sizeof(kNodeKindNames) / sizeof(kNodeKindNames[0]) ? kNodeKindNames[code] : std::string_view();
}

}  // namespace yomika
