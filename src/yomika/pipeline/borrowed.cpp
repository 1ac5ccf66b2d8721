// Assembly: one forward pass over the paired events that collects bracket bodies into frames,
// asks the classifiers what each body is, and writes the normalized text, the sentinel registry
// and the source-node table.
#include "yomika/pipeline/borrowed.hpp"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "yomika/alloc/fatal.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/spec/span.hpp"
#include "yomika/syntax/intern.hpp"

namespace yomika {

namespace {

using classify::Body;
using classify::Classification;
using classify::Hit;
using classify::kNoLink;

constexpr char kInlineSentinel[] = "\xEE\x80\x81";
constexpr char kBlockLine[] = "\n\n\xEE\x80\x82\n\n";
constexpr char kOpenLine[] = "\n\n\xEE\x80\x83\n\n";
constexpr char kCloseLine[] = "\n\n\xEE\x80\x84\n\n";
constexpr std::size_t kLineLen = 7;  // LF LF, three sentinel bytes, LF LF
constexpr std::size_t kPairKinds = 5;

bool is_char_boundary(std::string_view s, std::size_t i) {
  return i == s.size() || (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80);
}

bool is_trigger(const PairedEvent& ev, scan::TriggerKind k) {
  return ev.tag == EventTag::Trigger && ev.kind == static_cast<uint8_t>(k);
}

// The normalized text, written straight into the arena. Every construct's sentinel (three
// bytes, or seven with its blank lines) replaces at least nine source bytes, so the text never
// outgrows the source and the first buffer is the final one; growth is kept for safety only.
class ArenaText {
 public:
  ArenaText(Arena& arena, std::size_t capacity) : arena_(arena), cap_(capacity < 16 ? 16 : capacity) {
    data_ = static_cast<char*>(arena_.alloc(cap_, 1));
  }
  void append(const char* p, std::size_t k) {
    if (k > cap_ - size_) grow(k);
    std::memcpy(data_ + size_, p, k);
    size_ += k;
  }
  void push_back(char c) { append(&c, 1); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return std::string_view(data_, size_); }

 private:
  void grow(std::size_t k) {
    std::size_t want = cap_ * 2 > size_ + k ? cap_ * 2 : size_ + k;
    if (arena_.grow_last(data_, cap_, want)) {
      cap_ = want;
      return;
    }
    char* fresh = static_cast<char*>(arena_.alloc(want, 1));
    std::memcpy(fresh, data_, size_);
    data_ = fresh;
    cap_ = want;
  }
  Arena& arena_;
  std::size_t cap_;
  std::size_t size_ = 0;
  char* data_;
};

class Assembler {
 public:
  Assembler(std::string_view src, Arena& arena, classify::Context& cx)
      : src_(src), cx_(cx), norm_(arena, src.size()) {
    positions_.reserve(src.size() / 64);
    entries_.reserve(src.size() / 64);
    nodes_.reserve(src.size() / 64);
  }

  void run(const PairedEvent* events, std::size_t count) {
    // Items are written the moment they are produced: every item a step queues is written
    // before the next event is read, so a queue would only ever hold the current step's items.
    for (std::size_t i = 0; i < count; ++i) {
      const PairedEvent& ev = events[i];
      if (region_open_) {
        region_event(ev);
      } else if (frame_open_) {
        frame_event(ev);
      } else {
        top_level_event(ev);
      }
    }
    if (frame_open_) {
      frame_open_ = false;
      replay();
    }
    flush_text(static_cast<uint32_t>(src_.size()));
  }

  void finish(Arena& arena, ParseResult& out) {
    out.normalized = norm_.view();
    out.registry = build_registry(positions_, entries_);
    SourceNode* table = arena.alloc_array<SourceNode>(nodes_.size());
    for (std::size_t i = 0; i < nodes_.size(); ++i) table[i] = nodes_[i];
    out.nodes = table;
    out.node_count = nodes_.size();
  }

 private:
  // ---- pending text -------------------------------------------------------------------------

  void start_text(uint32_t x) {
    if (!text_pending_) {
      text_pending_ = true;
      text_start_ = x;
    }
  }

  // An event that becomes part of the pending text. A ｜ is remembered here so that a later 《
  // finds the last ｜ of its pending text in constant time: every ｜ of the source is a Bar event,
  // and the bars that end up in pending text all pass through this function in text order.
  void text_event(const PairedEvent& ev) {
    start_text(ev.start);
    if (is_trigger(ev, scan::TriggerKind::Bar)) {
      has_last_bar_ = true;
      last_bar_ = ev.start;
    }
  }

  void flush_text(uint32_t y) {
    if (ref_pending_) {
      ref_pending_ = false;
      start_text(ref_.start);
    }
    if (text_pending_ && text_start_ < y) write_text(text_start_, y);
    text_pending_ = false;
  }

  // ---- writing ------------------------------------------------------------------------------

  void write_text(uint32_t s, uint32_t e) {
    if (e > src_.size() || !is_char_boundary(src_, s) || !is_char_boundary(src_, e))
      fatal("span must align to UTF-8 char boundaries in source");
    norm_.append(src_.data() + s, e - s);
  }

  void write_newline() { norm_.push_back('\n'); }

  uint32_t sentinel_position(std::size_t lead) {
    std::size_t pos = norm_.size() + lead;
    if (pos > UINT32_MAX - 3) fatal("normalized fits u32 per Phase 0 cap");
    return static_cast<uint32_t>(pos);
  }

  void record(uint32_t pos, const RegistryEntry& e, Span span) {
    positions_.push_back(pos);
    entries_.push_back(e);
    nodes_.push_back(SourceNode{e, span});
  }

  void write_node(const YomikaNode& node, Span span) {
    RegistryEntry e;
    e.node = node;
    if (node.is_block()) {
      e.kind = EntryKind::Block;
      uint32_t pos = sentinel_position(2);
      norm_.append(kBlockLine, kLineLen);
      record(pos, e, span);
    } else {
      e.kind = EntryKind::Inline;
      uint32_t pos = sentinel_position(0);
      norm_.append(kInlineSentinel, 3);
      record(pos, e, span);
    }
  }

  void write_container(bool open, ContainerKind kind, uint8_t amount, Span span) {
    RegistryEntry e;
    e.kind = open ? EntryKind::ContainerOpen : EntryKind::ContainerClose;
    e.container = kind;
    e.amount = amount;
    uint32_t pos = sentinel_position(2);
    norm_.append(open ? kOpenLine : kCloseLine, kLineLen);
    record(pos, e, span);
  }

  // ---- top level ----------------------------------------------------------------------------

  void top_level_event(const PairedEvent& ev) {
    bool opens_bracket = ev.tag == EventTag::PairOpen && ev.kind == static_cast<uint8_t>(PairKind::Bracket);
    // A ※ only survives when the very next event opens ［.
    if (ref_pending_ && !opens_bracket) {
      ref_pending_ = false;
      start_text(ref_.start);
    }
    switch (ev.tag) {
      case EventTag::Text:
      case EventTag::PairClose:
      case EventTag::Unclosed:
      case EventTag::StrayClose:
        start_text(ev.start);
        break;
      case EventTag::Trigger:
        if (is_trigger(ev, scan::TriggerKind::RefMark)) {
          ref_pending_ = true;
          ref_ = Span{ev.start, ev.end};
        } else {
          text_event(ev);
        }
        break;
      case EventTag::PairOpen: {
        auto kind = static_cast<PairKind>(ev.kind);
        if (kind == PairKind::Tortoise || kind == PairKind::Quote) {
          flush_text(ev.start);
          start_text(ev.start);
          region_open_ = true;
          region_kind_ = ev.kind;
          region_depth_ = 1;
        } else {
          open_frame(ev);
        }
        break;
      }
      case EventTag::Newline:
        flush_text(ev.start);
        write_newline();
        break;
    }
  }

  // ---- quoted regions -----------------------------------------------------------------------

  // Inside 〔…〕 and 「…」 nothing is classified; only the depth of the region's own kind is kept
  // so that the region ends at its own closer.
  void region_event(const PairedEvent& ev) {
    bool own = ev.kind == region_kind_;
    switch (ev.tag) {
      case EventTag::Text:
      case EventTag::Trigger:
      case EventTag::StrayClose:
        text_event(ev);
        break;
      case EventTag::PairOpen:
        if (own && region_depth_ != UINT32_MAX) ++region_depth_;
        start_text(ev.start);
        break;
      case EventTag::PairClose:
        start_text(ev.start);
        if (own) leave_region_level();
        break;
      case EventTag::Unclosed:
        if (own) leave_region_level();
        break;
      case EventTag::Newline:
        flush_text(ev.start);
        write_newline();
        break;
    }
  }

  void leave_region_level() {
    uint32_t before = region_depth_;
    if (region_depth_ > 0) --region_depth_;
    if (before <= 1) region_open_ = false;
  }

  // ---- frames -------------------------------------------------------------------------------

  void open_frame(const PairedEvent& ev) {
    frame_open_ = true;
    frame_kind_ = static_cast<PairKind>(ev.kind);
    body_.clear();
    link_.clear();
    for (auto& s : open_) s.clear();
    open_count_ = 0;
    frame_ref_ = false;
    if (frame_kind_ == PairKind::Bracket && ref_pending_) {
      frame_ref_ = true;
      frame_ref_span_ = ref_;
      ref_pending_ = false;
    }
    push_open(ev);
  }

  uint32_t next_body_index() {
    std::size_t idx = body_.size();
    if (idx >= kNoLink) fatal("body_idx fits u32 (corpus body lengths are bounded)");
    return static_cast<uint32_t>(idx);
  }

  // The open stack is kept as one stack of body indices per pair kind. Removing the nearest entry
  // of a kind from the top of a mixed stack leaves the order of every other entry unchanged, so
  // per-kind stacks answer the same question in constant time, however many entries of other
  // kinds (say, 「 that never close) lie above it.
  void push_open(const PairedEvent& ev) {
    uint32_t idx = next_body_index();
    if (ev.kind < kPairKinds) {
      open_[ev.kind].push_back(idx);
      ++open_count_;
    }
    body_.push_back(ev);
    link_.push_back(kNoLink);
  }

  void frame_event(const PairedEvent& ev) {
    if (ev.tag == EventTag::PairOpen) {
      push_open(ev);
      return;
    }
    uint32_t idx = next_body_index();
    body_.push_back(ev);
    link_.push_back(kNoLink);
    if (ev.tag != EventTag::PairClose || ev.kind >= kPairKinds || open_[ev.kind].empty()) return;
    uint32_t opener = open_[ev.kind].back();
    open_[ev.kind].pop_back();
    --open_count_;
    link_[idx] = opener;
    link_[opener] = idx;
    if (open_count_ == 0) {
      frame_open_ = false;
      complete_frame();
    }
  }

  Body frame_body() const { return Body{body_.data(), link_.data(), static_cast<uint32_t>(body_.size())}; }

  void complete_frame() {
    if (body_.empty() || body_[0].tag != EventTag::PairOpen)
      fatal("internal error: entered unreachable code: frame body[0] must be PairOpen");
    switch (frame_kind_) {
      case PairKind::Bracket:
        complete_bracket();
        break;
      case PairKind::Ruby:
        complete_ruby();
        break;
      case PairKind::DoubleRuby:
        complete_double_ruby();
        break;
      default:
        replay();
        break;
    }
  }

  void complete_bracket() {
    Body body = frame_body();
    if (frame_ref_) {
      Hit hit = classify::classify_gaiji(cx_, body, 0);
      if (hit.ok) {
        flush_text(frame_ref_span_.start);
        write_node(hit.node, Span{frame_ref_span_.start, hit.span.end});
        return;
      }
      start_text(frame_ref_span_.start);
    }
    Classification c = classify::classify_annotation(cx_, body, 0, body.n - 1);
    switch (c.result) {
      case Classification::Result::None:
        replay();
        return;
      case Classification::Result::Node:
        flush_text(c.span.start);
        write_node(c.node, c.span);
        return;
      case Classification::Result::ContainerOpen:
        flush_text(c.span.start);
        write_container(true, c.container, c.amount, c.span);
        return;
      case Classification::Result::ContainerClose:
        flush_text(c.span.start);
        write_container(false, c.container, c.amount, c.span);
        return;
    }
  }

  // The base comes from the pending text [t, o) in front of the 《. Its last ｜ is known from
  // text_event(), so no byte of the pending text is read again here; the implicit form needs only
  // the last character to know whether its kanji run is empty (the classifier reads the run).
  void complete_ruby() {
    const uint32_t o = body_[0].start;
    const uint32_t t = text_pending_ ? text_start_ : o;
    const PairedEvent& close = body_.back();
    bool has_reading = body_[0].end < close.start;
    bool is_explicit = text_pending_ && has_last_bar_ && last_bar_ >= t && last_bar_ < o;

    rbody_.clear();
    rlink_.clear();
    bool has_base;
    if (is_explicit) {
      uint32_t b = last_bar_;
      has_base = b + 3 < o;
      rbody_.push_back(PairedEvent{EventTag::Trigger, static_cast<uint8_t>(scan::TriggerKind::Bar), b, b + 3});
      rbody_.push_back(PairedEvent{EventTag::Text, 0, b + 3, o});
    } else {
      has_base = false;
      if (t < o) {
        unsigned len;
        has_base = classify::is_ruby_base_char(decode_utf8(src_, prev_char_start(src_, o), len));
      }
      rbody_.push_back(PairedEvent{EventTag::Text, 0, t, o});
    }
    if (!has_base || !has_reading) {
      replay();
      return;
    }
    const uint32_t prefix = static_cast<uint32_t>(rbody_.size());
    for (std::size_t i = 0; i < prefix; ++i) rlink_.push_back(kNoLink);
    for (std::size_t i = 0; i < body_.size(); ++i) {
      rbody_.push_back(body_[i]);
      rlink_.push_back(link_[i] == kNoLink ? kNoLink : link_[i] + prefix);
    }
    Body body{rbody_.data(), rlink_.data(), static_cast<uint32_t>(rbody_.size())};
    Hit hit = classify::classify_ruby(cx_, body, prefix);
    if (!hit.ok) {
      replay();
      return;
    }
    flush_text(hit.span.start);
    write_node(hit.node, Span{hit.span.start, close.end});
  }

  void complete_double_ruby() {
    if (body_.back().tag != EventTag::PairClose)
      fatal("internal error: entered unreachable code: body[close_idx] must be PairClose");
    if (body_[0].tag != EventTag::PairOpen)
      fatal("internal error: entered unreachable code: body[open_idx] must be PairOpen");
    Hit hit = classify::classify_double_ruby(cx_, frame_body(), 0);
    if (!hit.ok) {
      replay();
      return;
    }
    Span span{body_[0].start, body_.back().end};
    flush_text(span.start);
    write_node(hit.node, span);
  }

  // A body that no classifier took becomes plain text: every byte stays, line feeds still
  // separate lines, and nothing nested inside it is recognised.
  void replay() {
    if (frame_ref_) {
      frame_ref_ = false;
      start_text(frame_ref_span_.start);
    }
    for (const PairedEvent& ev : body_) {
      if (ev.tag == EventTag::Unclosed) continue;
      if (ev.tag == EventTag::Newline) {
        flush_text(ev.start);
        write_newline();
      } else {
        text_event(ev);
      }
    }
  }

  std::string_view src_;
  classify::Context& cx_;

  // Builder: the normalized text, and the registry entries and source-node records in writing
  // (hence ascending position) order.
  ArenaText norm_;
  std::vector<uint32_t> positions_;
  std::vector<RegistryEntry> entries_;
  std::vector<SourceNode> nodes_;

  // Driver state.
  bool text_pending_ = false;
  uint32_t text_start_ = 0;
  bool ref_pending_ = false;
  Span ref_{};
  bool has_last_bar_ = false;
  uint32_t last_bar_ = 0;  // offset of the last ｜ that became pending text
  bool region_open_ = false;
  uint8_t region_kind_ = 0;
  uint32_t region_depth_ = 0;

  // The frame being collected; its arrays are reused from frame to frame.
  bool frame_open_ = false;
  PairKind frame_kind_ = PairKind::Bracket;
  bool frame_ref_ = false;
  Span frame_ref_span_{};
  std::vector<PairedEvent> body_;
  std::vector<uint32_t> link_;
  std::vector<uint32_t> open_[kPairKinds];
  std::size_t open_count_ = 0;

  // The ruby classifier's body: the base events in front of the frame's body.
  std::vector<PairedEvent> rbody_;
  std::vector<uint32_t> rlink_;
};

}  // namespace

void assemble(std::string_view sanitized, const Paired& paired, Arena& arena, std::vector<Diagnostic>&& diagnostics,
              ParseResult& out) {
  if (sanitized.size() > UINT32_MAX) fatal("sanitize asserts source.len() <= u32::MAX");
  Interner in(arena, sanitized.size());
  classify::QuoteResolver resolver(sanitized);
  classify::Context cx{sanitized, in, resolver};

  Assembler assembler(sanitized, arena, cx);
  assembler.run(paired.events.data, paired.events.size);
  assembler.finish(arena, out);
  in.release();

  out.diagnostics = std::move(diagnostics);
  out.pairs = paired.pairs.data;
  out.pair_count = paired.pairs.size;
}

}  // namespace yomika
