// STUB: replaced by the block scanner.
#include "yomika/scan/triggers.hpp"

#include "yomika/scan/byte_search.hpp"

namespace yomika::scan {
ArenaVec<uint32_t> scan_triggers_scalar(std::string_view text, Arena& arena) {
  ArenaVec<uint32_t> out;
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    auto b0 = static_cast<unsigned char>(text[i]), b1 = static_cast<unsigned char>(text[i + 1]),
         b2 = static_cast<unsigned char>(text[i + 2]);
    bool hit = (b0 == 0xEF && b1 == 0xBC && (b2 == 0x83 || b2 == 0xBB || b2 == 0xBD)) ||
               (b0 == 0xEF && b1 == 0xBD && b2 == 0x9C) ||
               (b0 == 0xE3 && b1 == 0x80 && (b2 == 0x8A || b2 == 0x8B || b2 == 0x8C || b2 == 0x8D || b2 == 0x94 || b2 == 0x95)) ||
               (b0 == 0xE2 && b1 == 0x80 && b2 == 0xBB);
    if (hit) { out.push_back(arena, static_cast<uint32_t>(i)); i += 2; }
  }
  return out;
}
ArenaVec<uint32_t> scan_triggers(std::string_view text, Arena& arena) { return scan_triggers_scalar(text, arena); }
TriggerKind classify_trigger(std::string_view text, uint32_t pos) {
  auto b0 = static_cast<unsigned char>(text[pos]), b1 = static_cast<unsigned char>(text[pos + 1]),
       b2 = static_cast<unsigned char>(text[pos + 2]);
  if (b0 == 0xEF && b1 == 0xBC && b2 == 0x83) return TriggerKind::Hash;
  if (b0 == 0xEF && b1 == 0xBC && b2 == 0xBB) return TriggerKind::BracketOpen;
  if (b0 == 0xEF && b1 == 0xBC && b2 == 0xBD) return TriggerKind::BracketClose;
  if (b0 == 0xEF && b1 == 0xBD && b2 == 0x9C) return TriggerKind::Bar;
  if (b0 == 0xE2) return TriggerKind::RefMark;
  switch (b2) {
    case 0x8A: return TriggerKind::RubyOpen;
    case 0x8B: return TriggerKind::RubyClose;
    case 0x8C: return TriggerKind::QuoteOpen;
    case 0x8D: return TriggerKind::QuoteClose;
    case 0x94: return TriggerKind::TortoiseOpen;
    default: return TriggerKind::TortoiseClose;
  }
}
}  // namespace yomika::scan
