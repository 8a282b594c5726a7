// The syntax tree of a pattern and the phases that compile it: parse.cpp reads the text into
// a tree, emit.cpp lowers the tree into the node program, optimise.cpp prunes the failure memo
// and builds the start filter, and compile.cpp runs them in that order.
// Internal to the matcher: callers use pattern/matcher.h.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "pattern/program.h"

namespace djkivo::pattern {

// A syntax tree node. The tree lives only during compilation.
struct Ast {
  enum Kind { kEmpty, kLiteral, kSet, kAssert, kBackref, kGroup, kAlt, kSeq, kRepeat };
  Kind kind = kEmpty;
  std::string bytes;  // kLiteral
  bool fold = false;  // kLiteral, kBackref: compared with case folding
  ByteSet set;        // kSet
  Op assert_op = Op::kInputStart;
  int group = 0;  // kGroup, kBackref
  std::uint32_t min = 0, max = 0;
  bool greedy = true;
  bool counted = false;  // kRepeat written as {n}, {n,} or {n,m}
  std::vector<Ast> children;

  std::size_t Size() const {
    std::size_t size = 1;
    for (const Ast& child : children)
      size += child.Size();
    return size;
  }  // kGroup: one (kAlt); kAlt: kSeq each; kSeq: elements; kRepeat: one

  bool HasLetters() const {
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return IsAsciiLetter(static_cast<unsigned char>(c)); });
  }
};

/// What the parse phase hands on.
struct ParsedPattern {
  Ast top;  // a kAlt
  int groups = 0;
  bool has_backref = false;
};

/// Parse: the pattern text (not empty) under `flags` as a tree. Raises EPatternError with the
/// compile error's code and position.
ParsedPattern ParsePattern(std::string_view text, int flags);

/// Emit: appends the nodes of `top` to `prog`, whose node 0 is the final kMatch, and returns
/// the node a match starts at.
std::uint32_t EmitProgram(const Ast& top, Program& prog);

/// The optimising passes, in the order compile.cpp runs them after emitting. None of them
/// changes what a search finds; they make searches skip work.
///
/// Takes the memo slot and failure interval from every node whose continuation can reach a
/// back-reference: what follows such a node depends on captured text, not on the position.
void DropBackrefMemos(Program& prog);
/// Takes the memo slot from every node whose continuation runs straight to the match.
void DropStraightMemos(Program& prog);
/// Fills `prog.filter` from the tree: first bytes, anchoring, literal prefix, required literal.
void BuildFilter(const Ast& top, Program& prog);
/// Recognises the lazy-span shape of the block and tag patterns in `prog.filter`.
void DetectLazySpan(Program& prog);

/// Offset of the byte of `bytes` to search for with memchr: the rarest one that has no other
/// case under folding; -1 when every byte is a letter under folding. Used by the emitter
/// (the byte a repeat's continuation needs) and by the start filter.
int AnchorOf(const std::string& bytes, bool fold);

}  // namespace djkivo::pattern
