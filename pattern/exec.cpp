// Covered by tests/pattern/matcher_test.cpp (semantics, limits) and differential_test.cpp.
// Execute: backtracking over the node program with a heap stack and a failure memo.
#include "pattern/exec.h"

#include <algorithm>
#include <cstring>

#include "base/ascii.h"
#include "pattern/error.h"

namespace djkivo::pattern {

namespace {

enum EntryKind : std::uint32_t {
  kChoice,        // resume at `node` with position a
  kRepeatChoice,  // kRepeat `node`: entered at a, last tried b, candidates c..d, run end e
  kLoopExit,      // leave kLoop `node` at position a
  kLoopIter,      // run one more iteration of kLoop `node` at position a
  kMemo,          // on the way back: (slot a, position b) failed
  kUndoOpen,      // group a's open position was b
  kUndoClose,     // group a's bounds were b, c
  kUndoCounter,   // the innermost loop counter was a
  kUndoLoopPush,  // a loop counter was pushed
  kUndoLoopPop,   // a loop counter holding a was popped
};

struct WordTable {
  bool word[256] = {};
  WordTable() {
    for (int c = 0; c < 256; ++c)
      word[c] = IsAsciiAlnum(static_cast<unsigned char>(c)) || c == '_';
  }
};
const WordTable kWord;

bool FoldEqual(const unsigned char* a, const unsigned char* b, std::size_t len) {
  for (std::size_t k = 0; k < len; ++k)
    if (a[k] != b[k] && AsciiLower(a[k]) != AsciiLower(b[k]))
      return false;
  return true;
}

const unsigned char* LastByte(const unsigned char* from, int c, std::size_t len) {
  return static_cast<const unsigned char*>(memrchr(from, c, len));
}

}  // namespace

void Executor::Reset() {
  memo_.reset();
  memo_words_ = 0;
  intervals_.clear();
  required_at_ = kUnset;
}

void Executor::Grow() {
  if (stack_.size() >= kMaxBacktrackEntries)
    throw EPatternError(kPatternBacktrackLimitExceeded, 0);
  stack_.reserve(std::min(kMaxBacktrackEntries, std::max<std::size_t>(256, stack_.size() * 2)));
}

bool Executor::MemoFailed(int slot, std::uint32_t pos) const {
  if (!memo_)
    return false;
  std::size_t bit = static_cast<std::size_t>(pos) * prog_->memo_slots + slot;
  return (memo_[bit >> 6] >> (bit & 63)) & 1;
}

void Executor::MemoSetFailed(int slot, std::uint32_t pos) {
  if (!memo_) {
    // calloc: a large memo gets zero pages from the system lazily, so only the parts of a
    // page where the pattern actually failed cost memory.
    memo_words_ = (static_cast<std::size_t>(prog_->memo_slots) * (n_ + 1) + 63) / 64;
    memo_.reset(static_cast<std::uint64_t*>(std::calloc(memo_words_, sizeof(std::uint64_t))));
    if (!memo_)
      throw std::bad_alloc();
  }
  std::size_t bit = static_cast<std::size_t>(pos) * prog_->memo_slots + slot;
  memo_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
}

bool Executor::Search(const Program& prog, std::string_view input, std::size_t start,
                      std::uint32_t* starts, std::uint32_t* ends) {
  prog_ = &prog;
  in_ = reinterpret_cast<const unsigned char*>(input.data());
  n_ = static_cast<std::uint32_t>(input.size());
  steps_ = 0;
  step_budget_ = kStepBudgetBase + kStepBudgetPerByte * (static_cast<std::uint64_t>(n_) + 1);
  if (intervals_.size() != static_cast<std::size_t>(prog.intervals))
    intervals_.assign(prog.intervals, Interval{});
  const StartFilter& f = prog.filter;
  std::uint32_t p = static_cast<std::uint32_t>(start);
  if (f.anchored && p > 0)
    return false;
  if (!f.required.empty() && (required_at_ == kUnset || required_at_ < p)) {
    const void* hit = memmem(in_ + p, n_ - p, f.required.data(), f.required.size());
    if (!hit)
      return false;
    required_at_ = static_cast<std::uint32_t>(static_cast<const unsigned char*>(hit) - in_);
  }
  if (f.lazy_span) {
    if (!FindStart(p))
      return false;
    const std::uint32_t from = p + static_cast<std::uint32_t>(f.prefix.size());
    if (n_ - from < f.span_min)
      return false;
    // No tail after this prefix means none after any later prefix either.
    const std::uint32_t tail = FindLiteral(from + f.span_min, f.tail, f.tail_fold, f.tail_anchor);
    if (tail == kUnset)
      return false;
    starts[0] = p;
    ends[0] = tail + static_cast<std::uint32_t>(f.tail.size());
    if (f.span_group) {
      starts[f.span_group] = from;
      ends[f.span_group] = tail;
    }
    return true;
  }
  for (;;) {
    if (!FindStart(p))
      return false;
    if (TryAt(p)) {
      starts[0] = p;
      ends[0] = match_end_;
      for (int g = 1; g <= prog_->group_count; ++g) {
        starts[g] = cap_start_[g];
        ends[g] = cap_end_[g];
      }
      return true;
    }
    if (f.anchored || p >= n_)
      return false;
    ++p;
  }
}

// The first occurrence of `literal` at or after `from`, or kUnset. `anchor` is the offset of
// a byte of it that folding leaves alone, searched for with memchr.
std::uint32_t Executor::FindLiteral(std::uint32_t from, const std::string& literal, bool fold,
                                    int anchor) const {
  const auto* lit = reinterpret_cast<const unsigned char*>(literal.data());
  const std::uint32_t len = static_cast<std::uint32_t>(literal.size());
  if (from > n_ || n_ - from < len)
    return kUnset;
  if (!fold) {
    const void* hit = len == 1 ? std::memchr(in_ + from, lit[0], n_ - from)
                               : memmem(in_ + from, n_ - from, lit, len);
    return hit ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(hit) - in_) : kUnset;
  }
  const std::uint32_t k = static_cast<std::uint32_t>(anchor);
  std::uint32_t p = from;
  while (n_ - p >= len) {
    const void* hit = std::memchr(in_ + p + k, lit[k], n_ - len + 1 - p);
    if (!hit)
      return kUnset;
    p = static_cast<std::uint32_t>(static_cast<const unsigned char*>(hit) - in_) - k;
    if (FoldEqual(in_ + p, lit, len))
      return p;
    ++p;
  }
  return kUnset;
}

// Moves `p` to the next position at which a match may start; false if there is none.
bool Executor::FindStart(std::uint32_t& p) const {
  const StartFilter& f = prog_->filter;
  if (!f.prefix.empty()) {
    p = FindLiteral(p, f.prefix, f.prefix_fold, f.prefix_anchor);
    return p != kUnset;
  }
  if (f.can_be_empty)
    return p <= n_;
  if (f.first.Count() == 1) {
    int c = 0;
    while (!f.first.Test(static_cast<unsigned char>(c)))
      ++c;
    if (p >= n_)
      return false;
    const void* hit = std::memchr(in_ + p, c, n_ - p);
    if (!hit)
      return false;
    p = static_cast<std::uint32_t>(static_cast<const unsigned char*>(hit) - in_);
    return true;
  }
  while (p < n_ && !f.first.Test(in_[p]))
    ++p;
  return p < n_;
}

// The next count to try for a repetition, as the position after it: lazy upwards from `low`,
// greedy downwards from `high`, skipping positions where the continuation's known first byte
// is absent. `last` is the position tried before (kUnset for the first).
bool Executor::NextCandidate(const Node& n, std::uint32_t entry, std::uint32_t last,
                             std::uint32_t low, std::uint32_t high, std::uint32_t& out) const {
  if (n.elem == Elem::kBackref) {
    std::uint32_t len = cap_end_[n.a] - cap_start_[n.a];
    if (len == 0) {
      if (last != kUnset)
        return false;
      out = entry;
      return true;
    }
    std::uint32_t q;
    if (n.greedy) {
      q = last == kUnset ? high : last - len;
      if (last != kUnset && (last < low + len))
        return false;
    } else {
      q = last == kUnset ? low : last + len;
      if (q > high)
        return false;
    }
    out = q;
    return true;
  }
  if (n.greedy) {
    if (last != kUnset && last == low)
      return false;
    std::uint32_t q = last == kUnset ? high : last - 1;
    if (q < low)
      return false;
    if (n.follow_byte >= 0) {
      const std::uint32_t off = n.follow_offset;
      if (low + off >= n_)
        return false;
      const std::uint32_t top = std::min(q + off, n_ - 1);
      if (top < low + off)
        return false;
      const unsigned char* hit = LastByte(in_ + low + off, n.follow_byte, top - low - off + 1);
      if (!hit)
        return false;
      q = static_cast<std::uint32_t>(hit - in_) - off;
    }
    out = q;
    return true;
  }
  std::uint32_t q = last == kUnset ? low : last + 1;
  if (q > high)
    return false;
  if (n.follow_byte >= 0) {
    const std::uint32_t off = n.follow_offset;
    if (q + off >= n_)
      return false;
    const std::uint32_t top = std::min(high + off, n_ - 1);
    if (top < q + off)
      return false;
    const void* hit = std::memchr(in_ + q + off, n.follow_byte, top - q - off + 1);
    if (!hit)
      return false;
    q = static_cast<std::uint32_t>(static_cast<const unsigned char*>(hit) - in_) - off;
  }
  out = q;
  return true;
}

// Starts a repetition at `pos`: counts what is possible, and pushes a choice over the counts.
bool Executor::EnterRepeat(const Node& n, std::uint32_t index, std::uint32_t& pos) {
  std::uint32_t low, high, run_end = kUnset;
  if (n.elem == Elem::kBackref) {
    const bool unset = cap_start_[n.a] == kUnset || cap_end_[n.a] == kUnset;
    if (unset && n.min > 0)
      return false;
    // An unset group repeats zero times only; an empty one matches any count in place.
    const std::uint32_t len = unset ? 0 : cap_end_[n.a] - cap_start_[n.a];
    if (len == 0) {
      low = high = pos;
    } else {
      std::uint32_t count = 0;
      std::uint32_t at = pos;
      const unsigned char* text = in_ + cap_start_[n.a];
      while (count < n.max && n_ - at >= len &&
             (n.fold ? FoldEqual(in_ + at, text, len) : std::memcmp(in_ + at, text, len) == 0)) {
        at += len;
        ++count;
        if (++steps_ > step_budget_)
          throw EPatternError(kPatternStepLimitExceeded, 0);
      }
      if (count < n.min)
        return false;
      low = pos + n.min * len;
      high = at;
    }
  } else {
    const std::uint32_t avail = n_ - pos;
    const std::uint32_t limit = std::min(avail, n.max);
    // With no upper bound the counts reach the end of the run of matching bytes. An earlier
    // entry into the same run that failed has tried every position from its own low end on:
    // an entry inside that run fails at once, one before it tries only the positions below.
    const Interval* iv = n.interval >= 0 ? &intervals_[n.interval] : nullptr;
    if (iv && iv->lo != kUnset && pos >= iv->lo && pos <= iv->hi)
      return false;
    std::uint32_t run;
    if (n.elem == Elem::kAny) {
      run = limit;
    } else {
      const ByteSet& set = prog_->sets[n.a];
      if (iv && iv->run_lo != kUnset && pos >= iv->run_lo && pos <= iv->run_hi) {
        run = iv->run_hi - pos;  // inside the run measured last time
      } else {
        std::uint32_t scan = limit;
        if (iv && iv->lo != kUnset && pos < iv->lo)
          scan = std::min(scan, iv->lo - pos);
        run = 0;
        while (run < scan && set.Test(in_[pos + run]))
          ++run;
        if (iv && iv->lo != kUnset && pos + run == iv->lo)
          run = iv->hi - pos;  // joined the failed run: it ends where that one does
        if (iv) {
          intervals_[n.interval].run_lo = pos;
          intervals_[n.interval].run_hi = pos + run;
        }
      }
    }
    if (run < n.min)
      return false;
    low = pos + n.min;
    high = pos + run;
    if (iv) {
      run_end = high;
      if (iv->lo != kUnset && iv->hi == run_end)
        high = std::min(high, iv->lo + n.min - 1);
    }
  }
  std::uint32_t q;
  if (!NextCandidate(n, pos, kUnset, low, high, q)) {
    if (n.interval >= 0) {
      Interval& iv = intervals_[n.interval];
      if (iv.lo != kUnset && iv.hi == run_end)
        iv.lo = std::min(iv.lo, pos);
      else
        iv = Interval{pos, run_end};
    }
    return false;
  }
  Push(Entry{kRepeatChoice, index, pos, q, low, high, run_end});
  pos = q;
  return true;
}

bool Executor::Backtrack(std::uint32_t& pc, std::uint32_t& pos) {
  while (!stack_.empty()) {
    Entry& e = stack_.back();
    switch (e.kind) {
      case kChoice:
        pc = e.node;
        pos = e.a;
        stack_.pop_back();
        return true;
      case kRepeatChoice: {
        const Node& n = prog_->nodes[e.node];
        if (n.interval >= 0 && !n.greedy) {
          // Entries further on in the same run may have failed meanwhile: their positions
          // need no second try.
          const Interval& iv = intervals_[n.interval];
          if (iv.lo != kUnset && iv.hi == e.e)
            e.d = std::min(e.d, iv.lo + n.min - 1);
        }
        std::uint32_t q;
        if (NextCandidate(n, e.a, e.b, e.c, e.d, q)) {
          if (++steps_ > step_budget_)
            throw EPatternError(kPatternStepLimitExceeded, 0);
          e.b = q;
          pc = n.next;
          pos = q;
          return true;
        }
        if (n.interval >= 0) {
          Interval& iv = intervals_[n.interval];
          if (iv.lo != kUnset && iv.hi == e.e)
            iv.lo = std::min(iv.lo, e.a);
          else
            iv = Interval{e.a, e.e};
        }
        stack_.pop_back();
        break;
      }
      case kLoopExit: {
        const Entry saved = e;
        stack_.pop_back();
        const std::uint32_t value = loops_[--loop_depth_];
        Push(Entry{kUndoLoopPop, 0, value, 0, 0, 0, 0});
        pc = prog_->nodes[saved.node].alt;
        pos = saved.a;
        return true;
      }
      case kLoopIter: {
        const Entry saved = e;
        stack_.pop_back();
        Push(Entry{kUndoCounter, 0, loops_[loop_depth_ - 1], 0, 0, 0, 0});
        ++loops_[loop_depth_ - 1];
        pc = prog_->nodes[saved.node].next;
        pos = saved.a;
        return true;
      }
      case kMemo:
        MemoSetFailed(static_cast<int>(e.a), e.b);
        stack_.pop_back();
        break;
      case kUndoOpen:
        open_[e.a] = e.b;
        stack_.pop_back();
        break;
      case kUndoClose:
        cap_start_[e.a] = e.b;
        cap_end_[e.a] = e.c;
        stack_.pop_back();
        break;
      case kUndoCounter:
        loops_[loop_depth_ - 1] = e.a;
        stack_.pop_back();
        break;
      case kUndoLoopPush:
        --loop_depth_;
        stack_.pop_back();
        break;
      case kUndoLoopPop:
        loops_[loop_depth_++] = e.a;
        stack_.pop_back();
        break;
      default:
        throw EPatternError(kPatternMemoryCorruption, 0);
    }
  }
  return false;
}

bool Executor::TryAt(std::uint32_t at) {
  stack_.clear();
  loop_depth_ = 0;
  const int groups = prog_->group_count + 1;
  std::fill(cap_start_, cap_start_ + groups, kUnset);
  std::fill(cap_end_, cap_end_ + groups, kUnset);
  std::fill(open_, open_ + groups, kUnset);
  const Node* nodes = prog_->nodes.data();
  const std::string& seps = prog_->paired_separator;
  std::uint32_t pc = prog_->start;
  std::uint32_t pos = at;
  for (;;) {
    if (++steps_ > step_budget_)
      throw EPatternError(kPatternStepLimitExceeded, 0);
    const Node& n = nodes[pc];
    bool ok = true;
    if (n.memo >= 0) {
      if (MemoFailed(n.memo, pos)) {
        ok = false;
      } else {
        Push(Entry{kMemo, 0, static_cast<std::uint32_t>(n.memo), pos, 0, 0, 0});
      }
    }
    if (ok) {
      switch (n.op) {
        case Op::kMatch:
          match_end_ = pos;
          return true;
        case Op::kLiteral: {
          const auto* lit = reinterpret_cast<const unsigned char*>(prog_->literals.data()) + n.a;
          if (n.b == 1 && !n.fold) {
            ok = pos < n_ && in_[pos] == lit[0];
            pos += ok;
            pc = n.next;
          } else if (n_ - pos < n.b || (n.fold ? !FoldEqual(in_ + pos, lit, n.b)
                                               : std::memcmp(in_ + pos, lit, n.b) != 0)) {
            ok = false;
          } else {
            pos += n.b;
            pc = n.next;
          }
          break;
        }
        case Op::kSet:
          if (pos < n_ && prog_->sets[n.a].Test(in_[pos])) {
            ++pos;
            pc = n.next;
          } else {
            ok = false;
          }
          break;
        case Op::kInputStart:
          ok = pos == 0;
          pc = n.next;
          break;
        case Op::kInputEnd:
          ok = pos == n_;
          pc = n.next;
          break;
        case Op::kLineStart:
          ok = pos == 0 || ((in_[pos - 1] == '\r' || in_[pos - 1] == '\n') &&
                            !(seps.size() == 2 && pos < n_ &&
                              in_[pos - 1] == static_cast<unsigned char>(seps[0]) &&
                              in_[pos] == static_cast<unsigned char>(seps[1])));
          pc = n.next;
          break;
        case Op::kLineEnd:
          ok = pos == n_ || ((in_[pos] == '\r' || in_[pos] == '\n') &&
                             !(seps.size() == 2 && pos > 0 &&
                               in_[pos - 1] == static_cast<unsigned char>(seps[0]) &&
                               in_[pos] == static_cast<unsigned char>(seps[1])));
          pc = n.next;
          break;
        case Op::kWordBoundary:
        case Op::kNotWordBoundary: {
          bool before = pos > 0 && kWord.word[in_[pos - 1]];
          bool after = pos < n_ && kWord.word[in_[pos]];
          ok = (before != after) == (n.op == Op::kWordBoundary);
          pc = n.next;
          break;
        }
        case Op::kBackref: {
          if (cap_start_[n.a] == kUnset || cap_end_[n.a] == kUnset) {
            ok = false;
            break;
          }
          const std::uint32_t len = cap_end_[n.a] - cap_start_[n.a];
          const unsigned char* text = in_ + cap_start_[n.a];
          if (n_ - pos < len || (n.fold ? !FoldEqual(in_ + pos, text, len)
                                        : std::memcmp(in_ + pos, text, len) != 0)) {
            ok = false;
          } else {
            pos += len;
            pc = n.next;
          }
          break;
        }
        case Op::kOpen:
          Push(Entry{kUndoOpen, 0, n.a, open_[n.a], 0, 0, 0});
          open_[n.a] = pos;
          pc = n.next;
          break;
        case Op::kClose:
          Push(Entry{kUndoClose, 0, n.a, cap_start_[n.a], cap_end_[n.a], 0, 0});
          cap_start_[n.a] = open_[n.a];
          cap_end_[n.a] = pos;
          pc = n.next;
          break;
        case Op::kBranch:
          if (n.alt != kNoNode)
            Push(Entry{kChoice, n.alt, pos, 0, 0, 0, 0});
          pc = n.next;
          break;
        case Op::kJump:
          pc = n.next;
          break;
        case Op::kSplit:
          Push(Entry{kChoice, n.alt, pos, 0, 0, 0, 0});
          pc = n.next;
          break;
        case Op::kSplitLazy:
          Push(Entry{kChoice, n.next, pos, 0, 0, 0, 0});
          pc = n.alt;
          break;
        case Op::kLoopPop:
          if (loop_depth_ == 0)
            throw EPatternError(kPatternLoopWithoutEntry, 0);
          Push(Entry{kUndoLoopPop, 0, loops_[--loop_depth_], 0, 0, 0, 0});
          pc = n.next;
          break;
        case Op::kRepeat:
          ok = EnterRepeat(n, pc, pos);
          if (ok)
            pc = n.next;
          break;
        case Op::kLoopPush:
        case Op::kLoopEntry:
          if (loop_depth_ >= kLoopStackSize)
            throw EPatternError(kPatternLoopStackExceeded, 0);
          loops_[loop_depth_++] = 0;
          Push(Entry{kUndoLoopPush, 0, 0, 0, 0, 0, 0});
          pc = n.next;
          break;
        case Op::kLoop: {
          if (loop_depth_ == 0)
            throw EPatternError(kPatternLoopWithoutEntry, 0);
          const std::uint32_t c = loops_[loop_depth_ - 1];
          if (c < n.min || (n.greedy && c < n.max)) {
            if (c >= n.min)
              Push(Entry{kLoopExit, pc, pos, 0, 0, 0, 0});
            Push(Entry{kUndoCounter, 0, c, 0, 0, 0, 0});
            ++loops_[loop_depth_ - 1];
            pc = n.next;
          } else {
            if (c < n.max)
              Push(Entry{kLoopIter, pc, pos, 0, 0, 0, 0});
            Push(Entry{kUndoLoopPop, 0, c, 0, 0, 0, 0});
            --loop_depth_;
            pc = n.alt;
          }
          break;
        }
      }
    }
    if (!ok && !Backtrack(pc, pos))
      return false;
  }
}

}  // namespace djkivo::pattern
