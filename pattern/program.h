// The compiled form of a pattern: one contiguous node program plus what the search needs to
// skip start positions. Built by parse.cpp, emit.cpp, optimise.cpp, run by exec.cpp.
// Internal to the matcher: callers use pattern/matcher.h. Covered through the matcher by
// tests/pattern/matcher_test.cpp and differential_test.cpp.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"

namespace djkivo::pattern {

/// Modifier flags as compiled into a program.
enum Flag : int {
  kFlagI = 1 << 0,  // case-insensitive
  kFlagR = 1 << 1,  // widened Cyrillic class ranges
  kFlagS = 1 << 2,  // '.' matches line breaks
  kFlagG = 1 << 3,  // plain quantifiers are greedy
  kFlagM = 1 << 4,  // multi-line '^' and '$'
  kFlagX = 1 << 5,  // extended syntax
};

/// Capturing groups a pattern may have (group 0 is the whole match).
inline constexpr int kMaxGroups = 14;
/// Upper bound of an open count {n,}.
inline constexpr std::uint32_t kInfinite = 2147483646;
/// Counted and lazy group loops that may be nested at one point of a match.
inline constexpr int kLoopStackSize = 10;
/// A count has at most this many decimal digits.
inline constexpr int kMaxCountDigits = 8;
inline constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;

/// A set of bytes, 256 bits.
struct ByteSet {
  std::array<std::uint64_t, 4> bits{};
  bool Test(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
  void Add(unsigned char c) { bits[c >> 6] |= std::uint64_t{1} << (c & 63); }
  void AddRange(int lo, int hi) {
    for (int c = lo; c <= hi; ++c)
      Add(static_cast<unsigned char>(c));
  }
  void Merge(const ByteSet& other) {
    for (int i = 0; i < 4; ++i)
      bits[i] |= other.bits[i];
  }
  void Invert() {
    for (auto& word : bits)
      word = ~word;
  }
  bool All() const {
    return bits[0] == ~0ull && bits[1] == ~0ull && bits[2] == ~0ull && bits[3] == ~0ull;
  }
  int Count() const {
    int n = 0;
    for (const std::uint64_t word : bits)
      n += std::popcount(word);
    return n;
  }
};

/// The case inversion of one byte: ASCII letters swap case; every other byte (among them all
/// of 0x80-0xFF, which in the GBK code page are lead or trail bytes) stays as it is.
inline unsigned char InvertCase(unsigned char c) {
  return IsAsciiLower(c) ? AsciiUpper(c) : AsciiLower(c);
}

enum class Op : std::uint8_t {
  kMatch,            // the pattern matched
  kLiteral,          // the bytes literals[a, a+b), compared with case folding when `fold`
  kSet,              // one byte of sets[a]
  kInputStart,       // '^' without m, \A
  kInputEnd,         // '$' without m, \Z
  kLineStart,        // '^' with m
  kLineEnd,          // '$' with m
  kWordBoundary,     // \b
  kNotWordBoundary,  // \B
  kBackref,          // the current text of group a, folded when `fold`
  kOpen,             // group a starts here
  kClose,            // group a ends here
  kBranch,           // try `next`; on failure the next alternative `alt` (kNoNode: none)
  kJump,             // continue at `next`
  kSplit,            // greedy group loop or option: try `next` (the body) first, then `alt`
  kSplitLazy,        // lazy group loop or option: try `alt` (the way out) first, then `next`
  kRepeat,           // single-byte element or back-reference repeated min..max times
  kLoopEntry,        // pushes a loop counter, then `next` (its kLoop)
  kLoop,             // counted group loop too large to unroll: body `next`, exit `alt`
  kLoopPush,         // an unrolled counted or lazy group loop begins: one more stack level
  kLoopPop,          // ...and ends here
};

/// A counted or lazy group loop is unrolled into copies of its body (so its continuation
/// depends on the position alone and is memoised) when its counts are at most this...
inline constexpr std::uint32_t kMaxUnrolledCount = 16;
/// ...and the copies add at most this many syntax nodes.
inline constexpr std::size_t kMaxUnrolledSize = 4096;

/// What a kRepeat repeats.
enum class Elem : std::uint8_t {
  kAny,      // every byte ('.' with s)
  kSet,      // a byte of sets[a]
  kBackref,  // the text of group a (folded when `fold`)
};

struct Node {
  Op op = Op::kMatch;
  Elem elem = Elem::kAny;
  bool fold = false;
  bool greedy = true;
  // Memo slot: failures of (this node, position) are remembered; -1 where the continuation
  // depends on more than the position (inside a counted loop, or a back-reference exists).
  std::int32_t memo = -1;
  std::uint32_t next = kNoNode;
  std::uint32_t alt = kNoNode;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  std::uint32_t min = 0;
  std::uint32_t max = 0;
  // kRepeat: a byte the continuation must hold at follow_offset (-1 if none known), so counts
  // where it is absent are skipped with memchr.
  std::int32_t follow_byte = -1;
  std::uint32_t follow_offset = 0;
  // kRepeat: index of its failure interval, -1 if it keeps none.
  std::int32_t interval = -1;
};

/// How the search picks start positions; none of it changes a result.
struct StartFilter {
  bool anchored = false;     // starts with '^' (without m) or \A: only offset 0 can match
  bool can_be_empty = true;  // the pattern can match the empty string
  ByteSet first;             // bytes a non-empty match can begin with
  std::string prefix;        // a literal every match begins with
  bool prefix_fold = false;  //   compared with case folding
  int prefix_anchor = -1;    //   offset in `prefix` of the byte searched for with memchr
  std::string required;      // a case-sensitive literal every match contains
  // The pattern is [prefix] [(] lazy-any{min,} [)] tail: a match is the first tail at least
  // `span_min` bytes after a prefix, found with memchr/memmem instead of node by node.
  bool lazy_span = false;
  std::uint32_t span_min = 0;
  int span_group = 0;  //   the group around the lazy part, 0 if none
  std::string tail;
  bool tail_fold = false;
  int tail_anchor = -1;  //   offset in `tail` of the byte searched for with memchr
};

struct Program {
  std::vector<Node> nodes;
  std::string literals;
  std::vector<ByteSet> sets;
  std::uint32_t start = 0;
  int flags = 0;                 // the flags it was compiled with
  std::string paired_separator;  // "" or two different bytes
  int group_count = 0;
  bool has_backref = false;
  int memo_slots = 0;
  int intervals = 0;
  StartFilter filter;
};

/// Compiles `expression` with `flags`; raises EPatternError with the compile error's code and
/// position. `expression` must not be empty (error 100 is the caller's).
Program CompilePattern(std::string_view expression, int flags, std::string_view paired_separator);

}  // namespace djkivo::pattern
