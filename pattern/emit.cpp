// Covered by tests/pattern/matcher_test.cpp (match tables, loops) and differential_test.cpp.
// Emit: syntax tree -> node program, continuation-passing, with the memo points marked and
// small counted loops unrolled.
#include <string>

#include "pattern/ast.h"
#include "pattern/error.h"

namespace djkivo::pattern {

namespace {

// Lowers the tree into nodes, continuation-passing: each element is emitted knowing the node
// that follows it, so every node has one fixed continuation.
class Emitter {
 public:
  Emitter(Program& program) : prog_(program) {}

  // `loop_depth` counts the enclosing loops whose counter the continuation depends on; only
  // nodes outside all of them are memoised.
  std::uint32_t Emit(const Ast& a, std::uint32_t next, int loop_depth) {
    switch (a.kind) {
      case Ast::kEmpty:
        return next;
      case Ast::kSeq:
        for (auto it = a.children.rbegin(); it != a.children.rend(); ++it)
          next = Emit(*it, next, loop_depth);
        return next;
      case Ast::kAlt: {
        if (a.children.size() == 1)
          return Emit(a.children[0], next, loop_depth);
        MarkMemo(next, loop_depth);
        std::uint32_t following = kNoNode;
        for (auto it = a.children.rbegin(); it != a.children.rend(); ++it) {
          std::uint32_t body = Emit(*it, next, loop_depth);
          Node n;
          n.op = Op::kBranch;
          n.next = body;
          n.alt = following;
          following = Add(n);
        }
        return following;
      }
      case Ast::kLiteral: {
        Node n;
        n.op = Op::kLiteral;
        n.a = static_cast<std::uint32_t>(prog_.literals.size());
        n.b = static_cast<std::uint32_t>(a.bytes.size());
        n.fold = a.fold;
        n.next = next;
        prog_.literals += a.bytes;
        return Add(n);
      }
      case Ast::kSet: {
        Node n;
        n.op = Op::kSet;
        n.a = AddSet(a.set);
        n.next = next;
        return Add(n);
      }
      case Ast::kAssert: {
        Node n;
        n.op = a.assert_op;
        n.next = next;
        return Add(n);
      }
      case Ast::kBackref: {
        Node n;
        n.op = Op::kBackref;
        n.a = static_cast<std::uint32_t>(a.group);
        n.fold = a.fold;
        n.next = next;
        return Add(n);
      }
      case Ast::kGroup: {
        Node close;
        close.op = Op::kClose;
        close.a = static_cast<std::uint32_t>(a.group);
        close.next = next;
        std::uint32_t close_index = Add(close);
        Node open;
        open.op = Op::kOpen;
        open.a = close.a;
        open.next = Emit(a.children[0], close_index, loop_depth);
        return Add(open);
      }
      case Ast::kRepeat:
        return EmitRepeat(a, next, loop_depth);
    }
    throw EPatternError(kPatternInternalDisaster, 0);
  }

 private:
  std::uint32_t Add(const Node& n) {
    prog_.nodes.push_back(n);
    return static_cast<std::uint32_t>(prog_.nodes.size() - 1);
  }
  std::uint32_t AddSet(const ByteSet& set) {
    for (std::size_t k = 0; k < prog_.sets.size(); ++k)
      if (prog_.sets[k].bits == set.bits)
        return static_cast<std::uint32_t>(k);
    prog_.sets.push_back(set);
    return static_cast<std::uint32_t>(prog_.sets.size() - 1);
  }
  // A join point: many backtracking paths may reach it at one position.
  void MarkMemo(std::uint32_t node, int loop_depth) {
    if (loop_depth == 0 && node != kNoNode && prog_.nodes[node].op != Op::kMatch &&
        prog_.nodes[node].memo < 0)
      prog_.nodes[node].memo = prog_.memo_slots++;
  }

  // The byte a match from `node` must begin with, if one is known (-1 otherwise).
  // Sets n.follow_byte and n.follow_offset from the literal the continuation of `node`
  // begins with: a byte it holds, under folding one without another case.
  void SetFollow(Node& n, std::uint32_t node) const {
    while (node != kNoNode &&
           (prog_.nodes[node].op == Op::kOpen || prog_.nodes[node].op == Op::kClose))
      node = prog_.nodes[node].next;
    if (node == kNoNode || prog_.nodes[node].op != Op::kLiteral)
      return;
    const Node& lit = prog_.nodes[node];
    const std::string bytes = prog_.literals.substr(lit.a, lit.b);
    const int anchor = AnchorOf(bytes, lit.fold);
    if (anchor < 0)
      return;
    n.follow_byte = static_cast<unsigned char>(bytes[anchor]);
    n.follow_offset = static_cast<std::uint32_t>(anchor);
  }

  std::uint32_t EmitRepeat(const Ast& a, std::uint32_t next, int loop_depth) {
    const Ast& operand = a.children[0];
    bool single = operand.kind == Ast::kSet || operand.kind == Ast::kBackref ||
                  (operand.kind == Ast::kLiteral && operand.bytes.size() == 1);
    if (single) {
      Node n;
      n.op = Op::kRepeat;
      n.min = a.min;
      n.max = a.max;
      n.greedy = a.greedy;
      n.next = next;
      if (operand.kind == Ast::kBackref) {
        n.elem = Elem::kBackref;
        n.a = static_cast<std::uint32_t>(operand.group);
        n.fold = operand.fold;
      } else {
        ByteSet set = operand.set;
        if (operand.kind == Ast::kLiteral) {
          set = ByteSet{};
          unsigned char c = static_cast<unsigned char>(operand.bytes[0]);
          set.Add(c);
          if (operand.fold)
            set.Add(InvertCase(c));
        }
        n.elem = set.All() ? Elem::kAny : Elem::kSet;
        n.a = AddSet(set);
        if (a.max == kInfinite && loop_depth == 0)
          n.interval = prog_.intervals++;
      }
      SetFollow(n, next);
      MarkMemo(next, loop_depth);
      return Add(n);
    }
    if (a.greedy && !a.counted) {
      // '*', '+' and '?' on a group: a split, looping back for '*' and '+'.
      Node split;
      split.op = Op::kSplit;
      split.alt = next;
      std::uint32_t split_index = Add(split);
      if (a.max == 1) {
        MarkMemo(next, loop_depth);
        prog_.nodes[split_index].next = Emit(operand, next, loop_depth);
        return split_index;
      }
      MarkMemo(split_index, loop_depth);
      std::uint32_t body = Emit(operand, split_index, loop_depth);
      prog_.nodes[split_index].next = body;
      return a.min == 0 ? split_index : body;
    }
    const std::uint32_t copies = a.max == kInfinite ? a.min + 1 : a.max;
    if (a.min <= kMaxUnrolledCount && (a.max == kInfinite || a.max <= kMaxUnrolledCount) &&
        copies * operand.Size() <= kMaxUnrolledSize && !unrolling_too_deep_)
      return EmitUnrolled(a, next, loop_depth);
    Node loop;
    loop.op = Op::kLoop;
    loop.min = a.min;
    loop.max = a.max;
    loop.greedy = a.greedy;
    loop.alt = next;
    std::uint32_t loop_index = Add(loop);
    std::uint32_t body = Emit(operand, loop_index, loop_depth + 1);
    prog_.nodes[loop_index].next = body;
    Node entry;
    entry.op = Op::kLoopEntry;
    entry.next = loop_index;
    return Add(entry);
  }

  // A counted or lazy group loop as copies of its body: min required ones, then either a
  // loop (no upper bound) or max-min nested options, between a push and a pop of the loop
  // stack so nesting is still limited as for any counted loop.
  std::uint32_t EmitUnrolled(const Ast& a, std::uint32_t next, int loop_depth) {
    const Ast& operand = a.children[0];
    const std::size_t nodes_before = prog_.nodes.size();
    Node pop;
    pop.op = Op::kLoopPop;
    pop.next = next;
    const std::uint32_t exit = Add(pop);
    MarkMemo(exit, loop_depth);
    const Op split_op = a.greedy ? Op::kSplit : Op::kSplitLazy;
    std::uint32_t entry = exit;
    std::uint32_t required = a.min;
    if (a.max == kInfinite) {
      Node split;
      split.op = split_op;
      split.alt = exit;
      const std::uint32_t split_index = Add(split);
      MarkMemo(split_index, loop_depth);
      const std::uint32_t body = Emit(operand, split_index, loop_depth);
      prog_.nodes[split_index].next = body;
      entry = split_index;
      if (required > 0) {
        entry = body;
        --required;
      }
    } else {
      for (std::uint32_t k = a.min; k < a.max; ++k) {
        Node split;
        split.op = split_op;
        split.alt = exit;
        const std::uint32_t split_index = Add(split);
        MarkMemo(split_index, loop_depth);
        prog_.nodes[split_index].next = Emit(operand, entry, loop_depth);
        entry = split_index;
      }
    }
    for (std::uint32_t k = 0; k < required; ++k)
      entry = Emit(operand, entry, loop_depth);
    if (prog_.nodes.size() - nodes_before > kMaxUnrolledSize * 4)
      unrolling_too_deep_ = true;  // nested unrolled loops multiply: stop unrolling further
    Node push;
    push.op = Op::kLoopPush;
    push.next = entry;
    return Add(push);
  }

  Program& prog_;
  bool unrolling_too_deep_ = false;
};

}  // namespace

std::uint32_t EmitProgram(const Ast& top, Program& prog) {
  Emitter emitter(prog);
  return emitter.Emit(top, 0, 0);
}

}  // namespace djkivo::pattern
