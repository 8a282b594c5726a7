// Covered by tests/pattern/matcher_test.cpp (syntax, bad patterns) and differential_test.cpp.
// Parse: pattern text -> syntax tree, raising the compile errors with their positions.
#include <cstring>
#include <string>
#include <utility>

#include "base/ascii.h"
#include "base/hex_digit.h"
#include "pattern/ast.h"
#include "pattern/error.h"

namespace djkivo::pattern {

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

}  // namespace

ParsedPattern ParsePattern(std::string_view text, int flags) {
  Parser parser(text, flags);
  ParsedPattern parsed;
  parsed.top = parser.Parse();
  parsed.groups = parser.groups();
  parsed.has_backref = parser.has_backref();
  return parsed;
}

}  // namespace djkivo::pattern
