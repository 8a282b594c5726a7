// Covered by tests/pattern/differential_test.cpp, matcher_test.cpp (hostile) and scrape_test.cpp.
// Optimise: the passes over the emitted program that make searches skip work without changing
// what they find: memo pruning, the start filter, the lazy-span shortcut.
#include <string>
#include <vector>

#include "base/ascii.h"
#include "pattern/ast.h"

namespace djkivo::pattern {

namespace {

// Bytes rarer in HTML pages get a lower score; used to pick the byte a case-insensitive
// literal is searched for with memchr.
int Rarity(unsigned char c) {
  if (c == '<' || c == '>' || c == ' ' || c == '"' || c == '=' || c == '/')
    return 3;
  if (c == '\r' || c == '\n' || c == '\t' || c == '.' || c == ':' || c == ';')
    return 2;
  if (IsAsciiDigit(c))
    return 1;
  return 0;
}

// The first bytes of a non-empty match, and whether the element can match empty.
bool FirstBytes(const Ast& a, ByteSet& first) {
  switch (a.kind) {
    case Ast::kEmpty:
    case Ast::kAssert:
      return true;
    case Ast::kLiteral: {
      unsigned char c = static_cast<unsigned char>(a.bytes[0]);
      first.Add(c);
      if (a.fold)
        first.Add(InvertCase(c));
      return false;
    }
    case Ast::kSet:
      first.Merge(a.set);
      return false;
    case Ast::kBackref:
      for (auto& word : first.bits)
        word = ~0ull;
      return true;
    case Ast::kGroup:
      return FirstBytes(a.children[0], first);
    case Ast::kAlt: {
      bool empty = false;
      for (const Ast& child : a.children)
        empty |= FirstBytes(child, first);
      return empty;
    }
    case Ast::kSeq:
      for (const Ast& child : a.children)
        if (!FirstBytes(child, first))
          return false;
      return true;
    case Ast::kRepeat:
      return FirstBytes(a.children[0], first) || a.min == 0;
  }
  return true;
}

}  // namespace

int AnchorOf(const std::string& bytes, bool fold) {
  int best = -1;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    unsigned char c = static_cast<unsigned char>(bytes[k]);
    if (fold && IsAsciiLetter(c))
      continue;
    if (best < 0 || Rarity(c) < Rarity(static_cast<unsigned char>(bytes[best])))
      best = static_cast<int>(k);
  }
  return best;
}

void DropBackrefMemos(Program& prog) {
  std::vector<bool> reaches(prog.nodes.size(), false);
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t k = 0; k < prog.nodes.size(); ++k) {
      const Node& n = prog.nodes[k];
      bool r = n.op == Op::kBackref || (n.op == Op::kRepeat && n.elem == Elem::kBackref) ||
               (n.next != kNoNode && reaches[n.next]) || (n.alt != kNoNode && reaches[n.alt]);
      if (r && !reaches[k]) {
        reaches[k] = true;
        changed = true;
      }
    }
  }
  prog.memo_slots = 0;
  prog.intervals = 0;
  for (std::size_t k = 0; k < prog.nodes.size(); ++k) {
    Node& n = prog.nodes[k];
    if (reaches[k]) {
      n.memo = -1;
      n.interval = -1;
    }
    if (n.memo >= 0)
      n.memo = prog.memo_slots++;
    if (n.interval >= 0)
      n.interval = prog.intervals++;
  }
}

void DropStraightMemos(Program& prog) {
  std::vector<bool> straight(prog.nodes.size(), false);
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t k = 0; k < prog.nodes.size(); ++k) {
      const Node& n = prog.nodes[k];
      bool s = false;
      switch (n.op) {
        case Op::kMatch:
          s = true;
          break;
        case Op::kLiteral:
        case Op::kSet:
        case Op::kInputStart:
        case Op::kInputEnd:
        case Op::kLineStart:
        case Op::kLineEnd:
        case Op::kWordBoundary:
        case Op::kNotWordBoundary:
        case Op::kOpen:
        case Op::kClose:
        case Op::kJump:
          s = n.next != kNoNode && straight[n.next];
          break;
        default:
          break;
      }
      if (s && !straight[k]) {
        straight[k] = true;
        changed = true;
      }
    }
  }
  prog.memo_slots = 0;
  for (std::size_t k = 0; k < prog.nodes.size(); ++k) {
    Node& n = prog.nodes[k];
    if (straight[k])
      n.memo = -1;
    if (n.memo >= 0)
      n.memo = prog.memo_slots++;
  }
}

void BuildFilter(const Ast& top, Program& prog) {
  StartFilter& f = prog.filter;
  f.can_be_empty = FirstBytes(top, f.first);
  if (top.children.size() != 1)
    return;
  const Ast& seq = top.children[0];
  if (seq.children.empty())
    return;
  const Ast& head = seq.children[0];
  if (head.kind == Ast::kAssert && head.assert_op == Op::kInputStart)
    f.anchored = true;
  if (head.kind == Ast::kLiteral) {
    const int best = AnchorOf(head.bytes, head.fold);
    if (best >= 0) {
      f.prefix = head.bytes;
      f.prefix_fold = head.fold;
      f.prefix_anchor = best;
    }
  }
  // The longest run of bytes that every match contains as they stand.
  for (const Ast& element : seq.children) {
    if (element.kind != Ast::kLiteral)
      continue;
    std::size_t k = 0;
    while (k < element.bytes.size()) {
      std::size_t run_end = k;
      while (run_end < element.bytes.size() &&
             !(element.fold && IsAsciiLetter(static_cast<unsigned char>(element.bytes[run_end]))))
        ++run_end;
      if (run_end - k > f.required.size())
        f.required = element.bytes.substr(k, run_end - k);
      k = run_end + 1;
    }
  }
  if (f.required.size() < 2 || (f.required == f.prefix && !f.prefix_fold))
    f.required.clear();
}

void DetectLazySpan(Program& prog) {
  StartFilter& f = prog.filter;
  const auto& nodes = prog.nodes;
  std::uint32_t k = prog.start;
  if (nodes[k].op == Op::kLiteral) {
    if (f.prefix.empty() || f.prefix.size() != nodes[k].b)
      return;
    k = nodes[k].next;
  }
  int group = 0;
  if (nodes[k].op == Op::kOpen) {
    group = static_cast<int>(nodes[k].a);
    k = nodes[k].next;
  }
  const Node& rep = nodes[k];
  if (rep.op != Op::kRepeat || rep.elem != Elem::kAny || rep.greedy || rep.max != kInfinite)
    return;
  k = rep.next;
  if (group) {
    if (nodes[k].op != Op::kClose || static_cast<int>(nodes[k].a) != group)
      return;
    k = nodes[k].next;
  }
  const Node& tail = nodes[k];
  if (tail.op != Op::kLiteral || nodes[tail.next].op != Op::kMatch)
    return;
  f.tail = prog.literals.substr(tail.a, tail.b);
  f.tail_fold = tail.fold;
  f.tail_anchor = AnchorOf(f.tail, tail.fold);
  if (f.tail_anchor < 0)
    return;
  f.lazy_span = true;
  f.span_min = rep.min;
  f.span_group = group;
}

}  // namespace djkivo::pattern
