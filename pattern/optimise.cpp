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

// The nodes for which `holds(node, marked)` is true, where `marked` is what is known so far:
// grown until nothing changes, so a rule may depend on what follows a node.
template <typename Rule>
std::vector<bool> MarkUntilStable(const Program& prog, Rule holds) {
  std::vector<bool> marked(prog.nodes.size(), false);
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t k = 0; k < prog.nodes.size(); ++k) {
      if (!marked[k] && holds(prog.nodes[k], marked)) {
        marked[k] = true;
        changed = true;
      }
    }
  }
  return marked;
}

// Takes the memo slot (with `intervals_too` also the failure interval) from every node in
// `drop`, and numbers the slots and intervals left from 0 in node order.
void DropSlots(Program& prog, const std::vector<bool>& drop, bool intervals_too) {
  prog.memo_slots = 0;
  prog.intervals = 0;
  for (std::size_t k = 0; k < prog.nodes.size(); ++k) {
    Node& n = prog.nodes[k];
    if (drop[k]) {
      n.memo = -1;
      if (intervals_too)
        n.interval = -1;
    }
    if (n.memo >= 0)
      n.memo = prog.memo_slots++;
    if (n.interval >= 0)
      n.interval = prog.intervals++;
  }
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
  const std::vector<bool> reaches = MarkUntilStable(prog, [](const Node& n, const auto& marked) {
    return n.op == Op::kBackref || (n.op == Op::kRepeat && n.elem == Elem::kBackref) ||
           (n.next != kNoNode && marked[n.next]) || (n.alt != kNoNode && marked[n.alt]);
  });
  DropSlots(prog, reaches, true);
}

void DropStraightMemos(Program& prog) {
  const std::vector<bool> straight = MarkUntilStable(prog, [](const Node& n, const auto& marked) {
    switch (n.op) {
      case Op::kMatch:
        return true;
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
        return n.next != kNoNode && marked[n.next];
      default:
        return false;
    }
  });
  DropSlots(prog, straight, false);
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
