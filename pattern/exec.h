// The search: runs a compiled program over an input with an explicit backtrack stack.
// Covered by tests/pattern/matcher_test.cpp, scrape_test.cpp and
// differential_test.cpp.
// Internal to the matcher: callers use pattern/matcher.h.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pattern/program.h"

namespace djkivo::pattern {

/// Group bounds as 0-based offsets; kUnset where a group did not take part.
inline constexpr std::uint32_t kUnset = 0xFFFFFFFFu;

/// Bounds that stand behind the memo as a last guard (each raises its own error).
/// Steps per search: a base plus a share per input byte, far above what a memoised search of
/// a page needs, reached only by patterns the memo cannot cover (back-references, loops inside
/// counted loops) on hostile input.
inline constexpr std::uint64_t kStepBudgetBase = 20'000'000;
inline constexpr std::uint64_t kStepBudgetPerByte = 200;
/// Backtrack entries (28 bytes each, about 110 MB): reached only by group loops that iterate
/// about a million times, which none of the program's patterns has.
inline constexpr std::size_t kMaxBacktrackEntries = 4u << 20;

/// Runs searches of one program over one input. Keeps its stack between searches, and keeps
/// the failures it has learnt while the program and input stay the same (`Reset` drops them),
/// so successive `ExecNext` searches of a page never redo failed work.
class Executor {
 public:
  Executor() = default;
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  /// Forgets what was learnt about the previous program or input.
  void Reset();

  /// Searches `input` for the first match starting at or after the 0-based `start`
  /// (start <= input.size()). On success sets `starts`/`ends` of group 0 and of the program's
  /// groups; the caller has set all kMaxGroups + 1 entries to kUnset. Raises EPatternError
  /// 1014, 1016 or 1017.
  bool Search(const Program& prog, std::string_view input, std::size_t start, std::uint32_t* starts,
              std::uint32_t* ends);

 private:
  struct Entry {
    std::uint32_t kind;
    std::uint32_t node;
    std::uint32_t a, b, c, d, e;
  };
  // What a kRepeat without upper bound has learnt about its runs of matching bytes.
  struct Interval {
    std::uint32_t lo = kUnset;  // every entry at lo..hi into this repeat fails
    std::uint32_t hi = 0;
    std::uint32_t run_lo = kUnset;  // the bytes run_lo..run_hi-1 match, run_hi does not
    std::uint32_t run_hi = 0;
  };
  struct FreeDeleter {
    void operator()(std::uint64_t* p) const { std::free(p); }
  };

  bool TryAt(std::uint32_t at);
  bool Backtrack(std::uint32_t& pc, std::uint32_t& pos);
  bool EnterRepeat(const Node& n, std::uint32_t index, std::uint32_t& pos);
  bool NextCandidate(const Node& n, std::uint32_t entry, std::uint32_t last, std::uint32_t low,
                     std::uint32_t high, std::uint32_t& out) const;
  void Push(const Entry& e) {
    if (stack_.size() == stack_.capacity())
      Grow();
    stack_.push_back(e);
  }
  void Grow();
  bool MemoFailed(int slot, std::uint32_t pos) const;
  void MemoSetFailed(int slot, std::uint32_t pos);
  bool FindStart(std::uint32_t& p) const;
  std::uint32_t FindLiteral(std::uint32_t from, const std::string& literal, bool fold,
                            int anchor) const;

  // Set for the duration of one Search.
  const Program* prog_ = nullptr;
  const unsigned char* in_ = nullptr;
  std::uint32_t n_ = 0;
  std::uint64_t steps_ = 0;
  std::uint64_t step_budget_ = 0;
  std::uint32_t match_end_ = 0;

  std::vector<Entry> stack_;
  std::uint32_t cap_start_[kMaxGroups + 1];
  std::uint32_t cap_end_[kMaxGroups + 1];
  std::uint32_t open_[kMaxGroups + 1];
  std::uint32_t loops_[kLoopStackSize];
  int loop_depth_ = 0;

  // Learnt for the current program and input (see Reset).
  std::unique_ptr<std::uint64_t[], FreeDeleter> memo_;
  std::size_t memo_words_ = 0;
  std::vector<Interval> intervals_;
  std::uint32_t required_at_ = kUnset;  // where the required literal was last found
};

}  // namespace djkivo::pattern
