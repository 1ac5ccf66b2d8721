// Assembly: one forward pass over the paired events that collects bracket bodies into frames,
// asks the classifiers what each body is, and writes the normalized text, the sentinel registry
// and the source-node table.
#include "yomika/pipeline/borrowed.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "yomika/alloc/fatal.hpp"
#include "yomika/alloc/pages.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/model/sentinel.hpp"
#include "yomika/model/span.hpp"
#include "yomika/syntax/intern.hpp"

namespace yomika {

namespace {

using classify::Body;
using classify::Classification;
using classify::Hit;
using classify::kNoLink;

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
  // Takes back the end of the text from `size` on.
  void truncate(std::size_t size) { size_ = size < size_ ? size : size_; }
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
    nodes_.reserve(src.size() / 64);
  }

  // Items are written the moment they are produced: every item a step queues is written before
  // the next event is read, so a queue would only ever hold the current step's items.
  void feed(const PairedEvent* events, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const PairedEvent& ev = events[i];
      if (frame_open_) {
        frame_event(ev);
        continue;
      }
      if (ev.tag == EventTag::PairOpen && ev.kind == static_cast<uint8_t>(PairKind::Ruby) && chain_.empty()) {
        if (const std::size_t taken = plain_ruby(events + i, count - i)) {
          i += taken - 1;
          continue;
        }
      }
      top_level_event(ev);
    }
  }

  void end() {
    if (frame_open_) {
      frame_open_ = false;
      replay();
    }
    flush_text(static_cast<uint32_t>(src_.size()));
  }

  void finish(ParseResult& out) {
    out.normalized = norm_.view();
    out.node_table = std::move(nodes_);
    out.position_table = std::move(positions_);
    out.nodes = out.node_table.data();
    out.node_count = out.node_table.size();
    out.positions = out.position_table.data();
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

  // A ※ not followed by ［ is text: it starts the pending text if nothing does yet.
  void ref_to_text() {
    if (ref_pending_) {
      ref_pending_ = false;
      start_text(ref_.start);
    }
  }

  void flush_text(uint32_t y) {
    ref_to_text();
    if (text_pending_ && text_start_ < y) write_text(text_start_, y);
    text_pending_ = false;
  }

  // ---- writing ------------------------------------------------------------------------------

  void write_text(uint32_t s, uint32_t e) {
    if (e > src_.size() || !is_char_boundary(src_, s) || !is_char_boundary(src_, e))
      fatal("span must align to UTF-8 char boundaries in source");
    norm_.append(src_.data() + s, e - s);
  }

  void write_newline(uint32_t p) {
    norm_.push_back('\n');
    reset_chain(p + 1);
  }

  // Writes the sentinel of kind k (on a line of its own but for an inline node) and returns its
  // position.
  //
  // PERF: each form is copied with its length known, a few moves rather than a call.
  uint32_t write_sentinel(EntryKind k) {
    const std::size_t pos = norm_.size() + (k == EntryKind::Inline ? 0 : sentinel::kLineFeeds);
    if (pos > UINT32_MAX - sentinel::kLength) fatal("normalized fits u32 per Phase 0 cap");
    if (k == EntryKind::Inline) {
      norm_.append(sentinel::bytes(k).data(), sentinel::kLength);
    } else {
      norm_.append(sentinel::line(k).data(), sentinel::kLineLength);
    }
    return static_cast<uint32_t>(pos);
  }

  // ---- the chain of text and special characters a ruby base may reach back over ------------

  void reset_chain(uint32_t at) {
    chain_.clear();
    chain_start_ = at;
  }

  // Where the run of ruby base characters that ends at `to` begins, no earlier than `from`.
  uint32_t base_run_start(uint32_t from, uint32_t to) const { return classify::ruby_base_start(src_, from, to); }

  // Start of the text in front of chained special character i.
  uint32_t gap_start(std::size_t i) const { return i == 0 ? chain_start_ : chain_[i - 1].end; }

  bool bar_in_chain() const { return has_last_bar_ && last_bar_ >= chain_start_; }

  // Keeps only what a later base could still reach: after the last ｜ everything up to a 《 is
  // the base; without one, only an unbroken run of base characters and special characters.
  void add_to_chain(Span span, uint32_t sentinel, const GaijiRec* rec) {
    if (bar_in_chain()) {
      std::size_t k = 0;
      while (k < chain_.size() && chain_[k].start < last_bar_) ++k;
      if (k) chain_.erase(chain_.begin(), chain_.begin() + static_cast<std::ptrdiff_t>(k));
    } else if (!chain_.empty() && base_run_start(chain_.back().end, span.start) != chain_.back().end) {
      chain_.clear();
    }
    chain_.push_back(ChainedGaiji{span.start, span.end, sentinel, rec});
  }

  void record(uint32_t pos, const RegistryEntry& e, Span span) {
    positions_.push_back(pos);
    nodes_.push_back(SourceNode{e, span});
  }

  void write_node(const YomikaNode& node, Span span) {
    RegistryEntry e;
    e.node = node;
    if (node.kind == NodeKind::Gaiji) {
      add_to_chain(span, static_cast<uint32_t>(norm_.size()), &node.gaiji());
    } else {
      reset_chain(span.end);
    }
    e.kind = node.is_block() ? EntryKind::Block : EntryKind::Inline;
    record(write_sentinel(e.kind), e, span);
  }

  void write_container(bool open, ContainerKind kind, uint8_t amount, Span span) {
    reset_chain(span.end);
    RegistryEntry e;
    e.kind = open ? EntryKind::ContainerOpen : EntryKind::ContainerClose;
    e.container = kind;
    e.amount = amount;
    record(write_sentinel(e.kind), e, span);
  }

  // ---- top level ----------------------------------------------------------------------------

  void top_level_event(const PairedEvent& ev) {
    bool opens_bracket = ev.tag == EventTag::PairOpen && ev.kind == static_cast<uint8_t>(PairKind::Bracket);
    // A ※ only survives when the very next event opens ［.
    if (!opens_bracket) ref_to_text();
    switch (ev.tag) {
      case EventTag::Text:
      case EventTag::PairClose:
      case EventTag::StrayClose:
        start_text(ev.start);
        break;
      case EventTag::Unclosed:
        // The opener's own bytes were text where it stood; its report adds none.
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
          // Dialogue 「…」 and 〔…〕 are text with everything inside them read as anywhere else.
          start_text(ev.start);
        } else {
          open_frame(ev);
        }
        break;
      }
      case EventTag::Newline:
        flush_text(ev.start);
        write_newline(ev.start);
        break;
    }
  }

  // ---- frames -------------------------------------------------------------------------------
  //
  // A frame runs from a ［, 《 or 《《 at top level to its partner. Its body keeps only the events
  // the classifiers of its kind can look at, with the links between partners among them:
  //   - a note or special character ［＃…］ reads the events directly inside its brackets (the ＃,
  //     the quoted targets in a row), never what is nested deeper;
  //   - a reading or double ruby looks for ※［ and ［ anywhere inside it, and reads directly inside
  //     each such bracket.
  // Everything else (the text of a reading, the brackets nested inside a quoted target) is passed
  // over, so a frame of any length keeps few events; one that ends as text is written from its
  // first offset and its last ｜, which is all that its events as text would set. A frame whose
  // opening already rules out every construct (a ［ without ＃ right after it, a 《 with no base)
  // keeps nothing at all. A frame never spans a line feed: its opener is reported unclosed first.

  void open_frame(const PairedEvent& ev) {
    frame_open_ = true;
    frame_kind_ = static_cast<PairKind>(ev.kind);
    frame_start_ = ev.start;
    frame_has_bar_ = false;
    after_ref_ = false;
    body_.clear();
    link_.clear();
    kept_open_.clear();
    open_kinds_.clear();
    frame_ref_ = false;
    if (frame_kind_ == PairKind::Bracket && ref_pending_) {
      frame_ref_ = true;
      frame_ref_span_ = ref_;
      ref_pending_ = false;
    }
    // A 《 with no base in front of it can only become text, however its frame ends.
    given_up_ = frame_kind_ == PairKind::Ruby && chain_.empty() && !ruby_base_before(ev.start).has;
    frame_event(ev);
  }

  uint32_t keep(const PairedEvent& ev) {
    std::size_t idx = body_.size();
    if (idx >= kNoLink) fatal("body_idx fits u32 (corpus body lengths are bounded)");
    body_.push_back(ev);
    link_.push_back(kNoLink);
    return static_cast<uint32_t>(idx);
  }

  // Whether a classifier of this frame can look at `ev`, an event that opens nothing or the
  // opener of a pair, at the frame's current depth (after_ref_: the event before it is a ※).
  bool wanted(const PairedEvent& ev) const {
    if (frame_kind_ == PairKind::Bracket) return open_kinds_.size() <= 1;
    return after_ref_ || open_kinds_.empty() || open_kinds_.back() == static_cast<uint8_t>(PairKind::Bracket) ||
           is_trigger(ev, scan::TriggerKind::RefMark) ||
           (ev.tag == EventTag::PairOpen && ev.kind == static_cast<uint8_t>(PairKind::Bracket));
  }

  void frame_event(const PairedEvent& ev) {
    if (ev.tag == EventTag::Unclosed || ev.tag == EventTag::Newline) {
      // Openers are reported unclosed innermost first, the frame's own among them, before the
      // line feed: nothing after the first report belongs to the frame, which becomes text.
      frame_open_ = false;
      replay();
      if (ev.tag == EventTag::Newline) top_level_event(ev);
      return;
    }
    if (frame_kind_ == PairKind::Bracket && !given_up_ && body_.size() == 1 &&
        !is_trigger(ev, scan::TriggerKind::Hash) && ev.tag != EventTag::PairClose) {
      // The event after the ［ (a note keeps every event directly inside it, so it holds only the
      // ［ until then) is not ＃: neither a note nor a special character, both of which need it.
      given_up_ = true;
    }
    if (is_trigger(ev, scan::TriggerKind::Bar)) {
      frame_has_bar_ = true;
      frame_last_bar_ = ev.start;
    }
    if (ev.tag == EventTag::PairClose) {
      frame_close(ev);
    } else if (ev.tag == EventTag::PairOpen) {
      if (!given_up_ && wanted(ev)) kept_open_.push_back(KeptOpen{keep(ev), open_kinds_.size() + 1});
      open_kinds_.push_back(ev.kind);
    } else if (!given_up_ && wanted(ev)) {
      keep(ev);
    }
    after_ref_ = is_trigger(ev, scan::TriggerKind::RefMark);
  }

  // Pairing closes only the innermost open bracket, so a closer in the frame closes the frame's
  // innermost. It is kept with its opener, or right after a ※ in a reading.
  void frame_close(const PairedEvent& ev) {
    if (open_kinds_.empty()) fatal("internal error: entered unreachable code: a frame closes what it opened");
    const std::size_t depth = open_kinds_.size();
    open_kinds_.pop_back();
    if (!given_up_) {
      const bool linked = !kept_open_.empty() && kept_open_.back().depth == depth;
      if (linked || (after_ref_ && frame_kind_ != PairKind::Bracket)) {
        const uint32_t idx = keep(ev);
        if (linked) {
          link_[idx] = kept_open_.back().index;
          link_[kept_open_.back().index] = idx;
          kept_open_.pop_back();
        }
      }
    }
    if (!open_kinds_.empty()) return;
    frame_open_ = false;
    if (given_up_) {
      replay();
    } else {
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
        if (!complete_ruby(frame_body())) replay();
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

  // What the pending text offers a 《 at `o` as its base: from `t` (the pending text's start),
  // after the last ｜ when there is one in it.
  struct RubyBase {
    uint32_t t;
    bool is_explicit;
    bool has;
  };
  RubyBase ruby_base_before(uint32_t o) const {
    RubyBase b{text_pending_ ? text_start_ : o, false, false};
    b.is_explicit = text_pending_ && has_last_bar_ && last_bar_ >= b.t && last_bar_ < o;
    if (b.is_explicit) {
      b.has = last_bar_ + 3 < o;
    } else if (b.t < o) {
      uint32_t start;
      b.has = classify::base_char_before(src_, o, start);
    }
    return b;
  }

  // The base comes from the pending text [t, o) in front of the 《. Its last ｜ is known from
  // text_event(), so no byte of the pending text is read again here; the implicit form needs only
  // the last character to know whether its kanji run is empty (the classifier reads the run).
  // `body` runs from the 《 to its 》. Writes the ruby and returns true, or writes nothing and
  // returns false (its events are then text).
  bool complete_ruby(const Body& body) {
    const uint32_t o = body.ev[0].start;
    const RubyBase base = ruby_base_before(o);
    const uint32_t t = base.t;
    const PairedEvent& close = body.ev[body.n - 1];
    bool has_reading = body.ev[0].end < close.start;
    if (!base.is_explicit && has_reading && !chain_.empty() && complete_ruby_over_chain(body, t, o)) return true;

    classify::RubyText text{t, false, 0};
    if (base.is_explicit) text = classify::RubyText{last_bar_ + 3, true, last_bar_};
    if (!base.has || !has_reading) return false;
    Hit hit = classify::classify_ruby_after(cx_, body, 0, text);
    if (!hit.ok) return false;
    flush_text(hit.span.start);
    write_node(hit.node, Span{hit.span.start, close.end});
    return true;
  }

  // PERF: most constructs are a ruby whose reading is plain text: 《, a text event and its 》 (or
  // 《 and 》 alone), all three among the events at hand. Such a ruby is completed from those
  // events directly, as its frame would complete it, without collecting the frame. Returns the
  // events taken, 0 when `ev` does not start one (the frame then takes it as usual). A chain of
  // special characters in front (a base that may reach over them) takes the frame's road too.
  std::size_t plain_ruby(const PairedEvent* ev, std::size_t left) {
    constexpr auto kRuby = static_cast<uint8_t>(PairKind::Ruby);
    std::size_t n;
    if (left >= 2 && ev[1].tag == EventTag::PairClose && ev[1].kind == kRuby) {
      n = 2;
    } else if (left >= 3 && ev[1].tag == EventTag::Text && ev[2].tag == EventTag::PairClose && ev[2].kind == kRuby) {
      n = 3;
    } else {
      return 0;
    }
    ref_to_text();  // a ※ only survives when the very next event opens ［
    // The 》 right after 《 or after one text event is its partner: pairing keeps a strict stack.
    static constexpr uint32_t kLinks[2][3] = {{1, 0, kNoLink}, {2, kNoLink, 0}};
    if (!complete_ruby(Body{ev, kLinks[n - 2], static_cast<uint32_t>(n)})) replay_events(ev, n);
    return n;
  }

  // A base that holds special characters: ｜柳※［＃…］《…》, or an implicit base whose run of
  // kanji reaches back over ※［＃…］ (a special character counts as one kanji). The text and the
  // sentinels the chain wrote from the ruby's start on are taken back, and the ruby is written in
  // their place. False, with nothing changed, when the base does not reach into the chain. `body`
  // runs from the 《 to its 》.
  bool complete_ruby_over_chain(const Body& body, uint32_t t, uint32_t o) {
    if (chain_.back().end != t) return false;  // the pending text must follow the last one
    std::size_t first;
    uint32_t b;
    const bool explicit_ = bar_in_chain() && last_bar_ < chain_.back().start;
    if (explicit_) {
      b = last_bar_ + 3;
      first = 0;
      while (chain_[first].start < b) ++first;
    } else {
      if (base_run_start(t, o) != t) return false;  // the run ends inside the pending text
      first = chain_.size() - 1;
      b = base_run_start(gap_start(first), chain_[first].start);
      while (b == gap_start(first) && first > 0) {
        --first;
        b = base_run_start(gap_start(first), chain_[first].start);
      }
    }

    std::vector<Segment> parts;
    uint32_t p = b;
    for (std::size_t i = first; i < chain_.size(); ++i) {
      if (p < chain_[i].start)
        parts.push_back(Segment{SegmentCode::Text, src_.substr(p, chain_[i].start - p), nullptr, nullptr});
      parts.push_back(Segment{SegmentCode::Gaiji, {}, chain_[i].rec, nullptr});
      p = chain_[i].end;
    }
    if (p < o) parts.push_back(Segment{SegmentCode::Text, src_.substr(p, o - p), nullptr, nullptr});
    Hit hit = classify::classify_ruby_on_base(cx_, body, 0, parts, explicit_);
    if (!hit.ok) return false;

    const uint32_t s = explicit_ ? last_bar_ : b;
    const uint32_t lead = chain_[first].start - s;
    if (chain_[first].sentinel < lead ||
        norm_.view().substr(chain_[first].sentinel - lead, lead) != src_.substr(s, lead))
      fatal("internal error: entered unreachable code: the chain is the source with sentinels");
    for (std::size_t i = chain_.size(); i-- > first;) {
      if (positions_.empty() || positions_.back() != chain_[i].sentinel)
        fatal("internal error: entered unreachable code: the chain's sentinels are the last written");
      positions_.pop_back();
      nodes_.pop_back();
    }
    norm_.truncate(chain_[first].sentinel - lead);
    text_pending_ = false;
    write_node(hit.node, Span{s, body.ev[body.n - 1].end});
    return true;
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
    start_text(frame_start_);
    if (frame_has_bar_) {
      has_last_bar_ = true;
      last_bar_ = frame_last_bar_;
    }
  }

  void replay_events(const PairedEvent* events, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const PairedEvent& ev = events[i];
      if (ev.tag == EventTag::Unclosed) continue;
      if (ev.tag == EventTag::Newline) {
        flush_text(ev.start);
        write_newline(ev.start);
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
  GrowArray<uint32_t> positions_;
  GrowArray<SourceNode> nodes_;

  // Driver state.
  bool text_pending_ = false;
  uint32_t text_start_ = 0;
  bool ref_pending_ = false;
  Span ref_{};
  bool has_last_bar_ = false;
  uint32_t last_bar_ = 0;  // offset of the last ｜ that became pending text

  // The chain: since chain_start_ the normalized text is the source with each special character
  // of chain_ in place of its reference, and nothing else written; a ruby base may reach back
  // over it. A line feed or any other construct starts a new chain.
  struct ChainedGaiji {
    uint32_t start, end;  // ※ to ］ in the source
    uint32_t sentinel;    // its sentinel's position in the normalized text
    const GaijiRec* rec;
  };
  uint32_t chain_start_ = 0;
  std::vector<ChainedGaiji> chain_;

  // The frame being collected; its arrays are reused from frame to frame.
  bool frame_open_ = false;
  PairKind frame_kind_ = PairKind::Bracket;
  bool frame_ref_ = false;
  Span frame_ref_span_{};
  uint32_t frame_start_ = 0;
  bool frame_has_bar_ = false;
  uint32_t frame_last_bar_ = 0;  // the frame's last ｜, which it sets as text
  bool after_ref_ = false;  // the frame's last event is a ※
  bool given_up_ = false;   // the frame can only become text: it keeps nothing
  GrowArray<PairedEvent> body_;
  GrowArray<uint32_t> link_;
  struct KeptOpen {
    uint32_t index;     // in body_
    std::size_t depth;  // open brackets of the frame with it
  };
  GrowArray<KeptOpen> kept_open_;
  GrowArray<uint8_t> open_kinds_;  // the frame's open brackets, innermost last
};

}  // namespace

struct Assembly::Impl {
  Impl(std::string_view sanitized, Arena& arena)
      : in(arena, sanitized), resolver(sanitized), cx{sanitized, in, resolver}, assembler(sanitized, arena, cx) {}
  Interner in;
  classify::QuoteResolver resolver;
  classify::Context cx;
  Assembler assembler;
};

Assembly::Assembly(std::string_view sanitized, Arena& arena) {
  if (sanitized.size() > UINT32_MAX) fatal("sanitize asserts source.len() <= u32::MAX");
  impl_ = std::make_unique<Impl>(sanitized, arena);
}

Assembly::~Assembly() = default;

void Assembly::feed(const PairedEvent* events, std::size_t count) { impl_->assembler.feed(events, count); }

void Assembly::finish(Diagnostics&& diagnostics, GrowArray<BracketPair>&& pairs, ParseResult& out) {
  impl_->assembler.end();
  // The interner's and the resolver's tables die before the registry is built beside the nodes.
  impl_->in.release();
  impl_->resolver.release();
  impl_->assembler.finish(out);
  out.diagnostics = std::move(diagnostics);
  out.pair_table = std::move(pairs);
  out.pairs = out.pair_table.data();
  out.pair_count = out.pair_table.size();
}

void assemble(std::string_view sanitized, const Paired& paired, Arena& arena, Diagnostics&& diagnostics,
              ParseResult& out) {
  Assembly assembly(sanitized, arena);
  assembly.feed(paired.events.data, paired.events.size);
  assembly.finish(std::move(diagnostics), {}, out);
  out.pairs = paired.pairs.data;
  out.pair_count = paired.pairs.size;
}

}  // namespace yomika
