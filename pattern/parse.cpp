// Parse and compile: pattern text -> syntax tree -> node program and start filter.
// Covered by tests/net/pattern_matcher_test.cpp (syntax tables, bad patterns) and the PCRE2
// cross-check in tests/net/pattern_differential_test.cpp.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

#include "base/ascii.h"
#include "base/hex_digit.h"
#include "net/pattern_error.h"
#include "net/pattern_program.h"

namespace djkivo::pattern {

int ByteSet::Count() const {
  int n = 0;
  for (auto word : bits)
    n += std::popcount(word);
  return n;
}

namespace {

ByteSet DigitSet() {
  ByteSet set;
  set.AddRange('0', '9');
  return set;
}
ByteSet WordSet() {
  ByteSet set;
  set.AddRange('0', '9');
  set.AddRange('a', 'z');
  set.AddRange('A', 'Z');
  set.Add('_');
  return set;
}
ByteSet SpaceSet() {
  ByteSet set;
  for (unsigned char c : {' ', '\t', '\n', '\r', '\f'})
    set.Add(c);
  return set;
}

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

// Can the element match the empty string? A back-reference counts as possibly empty, so a
// group holding one cannot be looped with '*', '+' or a count.
bool CanBeEmpty(const Ast& a) {
  switch (a.kind) {
    case Ast::kEmpty:
    case Ast::kAssert:
    case Ast::kBackref:
      return true;
    case Ast::kLiteral:
    case Ast::kSet:
      return false;
    case Ast::kGroup:
      return CanBeEmpty(a.children[0]);
    case Ast::kAlt:
      return std::any_of(a.children.begin(), a.children.end(), CanBeEmpty);
    case Ast::kSeq:
      return std::all_of(a.children.begin(), a.children.end(), CanBeEmpty);
    case Ast::kRepeat:
      return a.min == 0 || CanBeEmpty(a.children[0]);
  }
  return true;
}

// Reads the pattern text into a tree, raising the compile errors with their positions.
class Parser {
 public:
  Parser(std::string_view text, int flags) : p_(text), flags_(flags) {}

  Ast Parse() {
    Ast top = ParseAlternation();
    if (i_ < p_.size()) {
      if (p_[i_] == ')') {
        ++i_;
        Fail(kPatternUnmatchedClose);
      }
      Fail(kPatternJunkOnEnd);
    }
    return top;
  }
  int groups() const { return groups_; }
  bool has_backref() const { return has_backref_; }

 private:
  [[noreturn]] void Fail(int code) { throw EPatternError(code, static_cast<int>(i_)); }
  bool AtEnd() const { return i_ >= p_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(p_[i_]); }

  // Under x, whitespace outside classes is skipped and '#' comments run to the line's end.
  void SkipExtended() {
    if (!(flags_ & kFlagX))
      return;
    while (!AtEnd()) {
      unsigned char c = Peek();
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++i_;
      } else if (c == '#') {
        while (!AtEnd() && Peek() != '\n')
          ++i_;
      } else {
        break;
      }
    }
  }

  // Alternatives up to a ')' or the end. Inline settings hold through later alternatives.
  Ast ParseAlternation() {
    Ast alt;
    alt.kind = Ast::kAlt;
    for (;;) {
      alt.children.push_back(ParseSequence());
      if (AtEnd() || Peek() != '|')
        break;
      ++i_;
    }
    return alt;
  }

  // Is there a valid count {n}, {n,} or {n,m} at `at`? Sets `end` past its '}'.
  bool CountAt(std::size_t at, std::size_t& end) const {
    std::size_t j = at + 1;
    std::size_t digits = 0;
    while (j < p_.size() && IsAsciiDigit(static_cast<unsigned char>(p_[j])))
      ++j, ++digits;
    if (digits == 0 || j >= p_.size())
      return false;
    if (p_[j] == '}') {
      end = j + 1;
      return true;
    }
    if (p_[j] != ',')
      return false;
    ++j;
    while (j < p_.size() && IsAsciiDigit(static_cast<unsigned char>(p_[j])))
      ++j;
    if (j >= p_.size() || p_[j] != '}')
      return false;
    end = j + 1;
    return true;
  }

  bool QuantifierAt(std::size_t at) const {
    if (at >= p_.size())
      return false;
    char c = p_[at];
    std::size_t end;
    return c == '*' || c == '+' || c == '?' || (c == '{' && CountAt(at, end));
  }

  std::uint32_t ReadNumber(std::size_t from, std::size_t to) {
    if (to - from > static_cast<std::size_t>(kMaxCountDigits)) {
      i_ = to;
      Fail(kPatternBracesTooBig);
    }
    std::uint32_t n = 0;
    for (std::size_t j = from; j < to; ++j)
      n = n * 10 + static_cast<std::uint32_t>(p_[j] - '0');
    return n;
  }

  Ast ParseSequence() {
    Ast seq;
    seq.kind = Ast::kSeq;
    for (;;) {
      SkipExtended();
      if (AtEnd() || Peek() == '|' || Peek() == ')')
        break;
      if (QuantifierAt(i_)) {
        ++i_;
        Fail(kPatternFollowsNothing);
      }
      if (Peek() == '(' && i_ + 1 < p_.size() && p_[i_ + 1] == '?') {
        ParseInline();
        continue;
      }
      Ast atom = ParseAtom();
      SkipExtended();
      if (QuantifierAt(i_))
        atom = ParseQuantifier(std::move(atom));
      AppendElement(seq, std::move(atom));
    }
    return seq;
  }

  // Joins a literal byte to a literal run before it when their case rules agree.
  static void AppendElement(Ast& seq, Ast atom) {
    if (atom.kind == Ast::kLiteral && !seq.children.empty() &&
        seq.children.back().kind == Ast::kLiteral) {
      Ast& last = seq.children.back();
      bool last_letters = last.HasLetters();
      bool atom_letters = atom.HasLetters();
      if (last.fold == atom.fold || !last_letters || !atom_letters) {
        last.fold = last_letters ? last.fold : atom_letters ? atom.fold : false;
        last.bytes += atom.bytes;
        return;
      }
    }
    if (atom.kind == Ast::kLiteral && !atom.HasLetters())
      atom.fold = false;
    seq.children.push_back(std::move(atom));
  }

  // "(?#...)" comments and "(?imsxgr-imsxgr)" settings.
  void ParseInline() {
    i_ += 2;
    if (!AtEnd() && Peek() == '#') {
      std::size_t close = p_.find(')', i_);
      if (close == std::string_view::npos) {
        i_ = p_.size();
        Fail(kPatternUnclosedComment);
      }
      i_ = close + 1;
      return;
    }
    bool on = true;
    for (;;) {
      if (AtEnd())
        Fail(kPatternUnrecognizedModifier);
      unsigned char c = AsciiLower(Peek());
      ++i_;
      int flag = 0;
      switch (c) {
        case ')':
          return;
        case '-':
          on = false;
          continue;
        case 'i':
          flag = kFlagI;
          break;
        case 'r':
          flag = kFlagR;
          break;
        case 's':
          flag = kFlagS;
          break;
        case 'g':
          flag = kFlagG;
          break;
        case 'm':
          flag = kFlagM;
          break;
        case 'x':
          flag = kFlagX;
          break;
        default:
          Fail(kPatternUnrecognizedModifier);
      }
      flags_ = on ? (flags_ | flag) : (flags_ & ~flag);
    }
  }

  Ast ParseQuantifier(Ast atom) {
    char c = p_[i_];
    std::uint32_t min = 0, max = kInfinite;
    bool counted = false;
    if (c == '*') {
      ++i_;
    } else if (c == '+') {
      min = 1;
      ++i_;
    } else if (c == '?') {
      max = 1;
      ++i_;
    } else {
      std::size_t end = 0;
      CountAt(i_, end);
      std::size_t j = i_ + 1;
      std::size_t digits_end = j;
      while (IsAsciiDigit(static_cast<unsigned char>(p_[digits_end])))
        ++digits_end;
      min = ReadNumber(j, digits_end);
      if (p_[digits_end] == '}') {
        max = min;
      } else {
        std::size_t k = digits_end + 1;
        std::size_t k_end = k;
        while (IsAsciiDigit(static_cast<unsigned char>(p_[k_end])))
          ++k_end;
        max = k_end > k ? ReadNumber(k, k_end) : kInfinite;
      }
      i_ = end;
      if (max < min)
        Fail(kPatternBraceMinGreaterMax);
      counted = true;
    }
    bool lazy = false;
    if (!AtEnd() && Peek() == '?') {
      lazy = true;
      ++i_;
    }
    if (!AtEnd() && (Peek() == '*' || Peek() == '+' || Peek() == '?' || Peek() == '{')) {
      ++i_;
      Fail(kPatternNestedQuantifier);
    }
    if ((c != '?' || counted) && atom.kind != Ast::kBackref && CanBeEmpty(atom))
      Fail(kPatternOperandCouldBeEmpty);
    Ast rep;
    rep.kind = Ast::kRepeat;
    rep.min = min;
    rep.max = max;
    rep.greedy = (flags_ & kFlagG) && !lazy;
    rep.counted = counted;
    rep.children.push_back(std::move(atom));
    return rep;
  }

  Ast Literal(unsigned char c) const {
    Ast a;
    a.kind = Ast::kLiteral;
    a.bytes.assign(1, static_cast<char>(c));
    a.fold = (flags_ & kFlagI) && IsAsciiLetter(c);
    return a;
  }
  static Ast Set(const ByteSet& set) {
    Ast a;
    a.kind = Ast::kSet;
    a.set = set;
    return a;
  }
  static Ast Assert(Op op) {
    Ast a;
    a.kind = Ast::kAssert;
    a.assert_op = op;
    return a;
  }

  Ast ParseAtom() {
    unsigned char c = Peek();
    ++i_;
    switch (c) {
      case '^':
        return Assert((flags_ & kFlagM) ? Op::kLineStart : Op::kInputStart);
      case '$':
        return Assert((flags_ & kFlagM) ? Op::kLineEnd : Op::kInputEnd);
      case '.': {
        ByteSet set;
        set.Invert();
        if (!(flags_ & kFlagS)) {
          set.bits['\n' >> 6] &= ~(std::uint64_t{1} << ('\n' & 63));
          set.bits['\r' >> 6] &= ~(std::uint64_t{1} << ('\r' & 63));
        }
        return Set(set);
      }
      case '[':
        return Set(ParseClass());
      case '(':
        return ParseGroup();
      case '\\':
        return ParseEscape();
      default:
        return Literal(c);
    }
  }

  Ast ParseGroup() {
    if (++groups_ > kMaxGroups)
      Fail(kPatternTooManyGroups);
    Ast group;
    group.kind = Ast::kGroup;
    group.group = groups_;
    int saved_flags = flags_;
    group.children.push_back(ParseAlternation());
    if (AtEnd())
      Fail(kPatternUnmatchedOpen);
    ++i_;  // ')'
    flags_ = saved_flags;
    return group;
  }

  // \x followed by two hex digits, or one or two in braces. `i_` is just past the 'x'.
  unsigned char ParseHex() {
    if (AtEnd())
      Fail(kPatternNoHexCode);
    int value = 0;
    if (Peek() == '{') {
      ++i_;
      int digits = 0;
      for (;;) {
        if (AtEnd())
          Fail(kPatternNoHexCode);
        unsigned char c = Peek();
        ++i_;
        if (c == '}')
          break;
        int v = HexDigitValue(c);
        if (v < 0)
          Fail(kPatternBadHexDigit);
        if (++digits > 2)
          Fail(kPatternHexCodeTooBig);
        value = value * 16 + v;
      }
      if (digits == 0)
        Fail(kPatternNoHexCode);
      return static_cast<unsigned char>(value);
    }
    for (int k = 0; k < 2; ++k) {
      if (AtEnd())
        Fail(kPatternNoHexCode);
      int v = HexDigitValue(Peek());
      ++i_;
      if (v < 0)
        Fail(kPatternBadHexDigit);
      value = value * 16 + v;
    }
    return static_cast<unsigned char>(value);
  }

  // The byte an escape stands for when it is not a set, an assertion or a back-reference.
  unsigned char EscapedByte(unsigned char e) {
    switch (e) {
      case 't':
        return '\t';
      case 'n':
        return '\n';
      case 'r':
        return '\r';
      case 'f':
        return '\f';
      case 'a':
        return 7;
      case 'e':
        return 27;
      case 'x':
        return ParseHex();
      default:
        return e;
    }
  }

  Ast ParseEscape() {
    if (AtEnd())
      Fail(kPatternTrailingBackslash);
    unsigned char e = Peek();
    ++i_;
    ByteSet set;
    switch (e) {
      case 'd':
        return Set(DigitSet());
      case 'w':
        return Set(WordSet());
      case 's':
        return Set(SpaceSet());
      case 'D':
        set = DigitSet();
        set.Invert();
        return Set(set);
      case 'W':
        set = WordSet();
        set.Invert();
        return Set(set);
      case 'S':
        set = SpaceSet();
        set.Invert();
        return Set(set);
      case 'b':
        return Assert(Op::kWordBoundary);
      case 'B':
        return Assert(Op::kNotWordBoundary);
      case 'A':
        return Assert(Op::kInputStart);
      case 'Z':
        return Assert(Op::kInputEnd);
      default:
        break;
    }
    if (e >= '1' && e <= '9') {
      Ast a;
      a.kind = Ast::kBackref;
      a.group = e - '0';
      a.fold = flags_ & kFlagI;
      has_backref_ = true;
      return a;
    }
    return Literal(EscapedByte(e));
  }

  void AddByte(ByteSet& set, unsigned char c) const {
    set.Add(c);
    if (flags_ & kFlagI)
      set.Add(InvertCase(c));
  }

  void AddRange(ByteSet& set, int lo, int hi) {
    if (hi < lo) {
      if (!((flags_ & kFlagR) && lo == 0xE0 && hi == 0xDF))
        Fail(kPatternInvalidRange);
      // The whole Cyrillic alphabet of code page 1251, both cases, with Yo and yo.
      AddRange(set, 0xC0, 0xFF);
      set.Add(0xA8);
      set.Add(0xB8);
      return;
    }
    for (int c = lo; c <= hi; ++c)
      AddByte(set, static_cast<unsigned char>(c));
    if (flags_ & kFlagR) {
      if (lo == 0xE0 && hi == 0xFF)
        set.Add(0xB8);  // yo, outside the lower-case block
      if (lo == 0xC0 && hi == 0xDF)
        set.Add(0xA8);  // Yo, outside the upper-case block
    }
  }

  // One class item: a byte (true) or a set escape merged into `set` (false).
  bool ClassItem(ByteSet& set, unsigned char& byte) {
    unsigned char c = Peek();
    ++i_;
    if (c != '\\') {
      byte = c;
      return true;
    }
    if (AtEnd())
      Fail(kPatternClassTrailingBackslash);
    unsigned char e = Peek();
    ++i_;
    switch (e) {
      case 'd':
        set.Merge(DigitSet());
        return false;
      case 'w':
        set.Merge(WordSet());
        return false;
      case 's':
        set.Merge(SpaceSet());
        return false;
      default:
        byte = EscapedByte(e);
        return true;
    }
  }

  ByteSet ParseClass() {
    ByteSet set;
    bool negate = false;
    if (!AtEnd() && Peek() == '^') {
      negate = true;
      ++i_;
    }
    bool first = true;
    for (;;) {
      if (AtEnd())
        Fail(kPatternUnmatchedBracket);
      if (Peek() == ']' && !first) {
        ++i_;
        break;
      }
      first = false;
      unsigned char lo;
      if (!ClassItem(set, lo))
        continue;
      // "a-b" is a range unless the '-' is the class's last byte.
      if (i_ + 1 < p_.size() && p_[i_] == '-' && p_[i_ + 1] != ']') {
        ++i_;
        ByteSet escape_set;
        unsigned char hi;
        if (ClassItem(escape_set, hi)) {
          AddRange(set, lo, hi);
          continue;
        }
        // "a-\d": the '-' is a plain byte after all.
        AddByte(set, lo);
        set.Add('-');
        set.Merge(escape_set);
        continue;
      }
      AddByte(set, lo);
    }
    if (negate)
      set.Invert();
    return set;
  }

  std::string_view p_;
  std::size_t i_ = 0;
  int flags_;
  int groups_ = 0;
  bool has_backref_ = false;
};

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

int AnchorOf(const std::string& bytes, bool fold);

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

// Offset of the byte of `bytes` to search for with memchr: the rarest one that has no other
// case under folding; -1 when every byte is a letter under folding.
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

// Recognises [prefix] [(] .{n,}? [)] tail, the shape of the block and tag patterns.
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

// A memo point whose continuation runs straight to the end of the pattern (no choice left
// on the way) fails no slower than its memo bit would be read: it gets no slot.
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

}  // namespace

Program CompilePattern(std::string_view expression, int flags, std::string_view paired_separator) {
  Parser parser(expression, flags);
  Ast top = parser.Parse();
  Program prog;
  prog.flags = flags;
  prog.paired_separator = std::string(paired_separator);
  prog.group_count = parser.groups();
  prog.has_backref = parser.has_backref();
  Node match;
  match.op = Op::kMatch;
  prog.nodes.push_back(match);
  Emitter emitter(prog);
  prog.start = emitter.Emit(top, 0, 0);
  if (prog.has_backref) {
    // A continuation that can reach a back-reference depends on the captured text, not on
    // the position alone: such nodes are not memoised.
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
  DropStraightMemos(prog);
  BuildFilter(top, prog);
  DetectLazySpan(prog);
  return prog;
}

}  // namespace djkivo::pattern
