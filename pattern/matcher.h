// TPatternMatcher: the regular-expression engine the scrapers take the site's pages apart with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "pattern/error.h"

namespace djkivo::pattern {

struct Program;
class Executor;

/// A leftmost-first backtracking matcher over byte strings (pages stay GBK bytes; every
/// position, length and comparison is in bytes).
///
/// Use: set `Expression`, then `Exec(page)`; while it gives true read `GroupText(1..3)` and
/// call `ExecNext`. The pattern is compiled on the first search and kept until the expression
/// text or the modifier flags change. Every failure raises `EPatternError`; a search that finds
/// nothing gives false.
///
/// A search never recurses in proportion to the input (its backtrack stack lives on the heap)
/// and never backtracks exponentially: failed (node, position) pairs are remembered for the
/// current input, so a page on which the pattern matches nowhere costs time linear in the page
/// for a fixed pattern. Patterns with back-references cannot be memoised; for them a step
/// budget is the last guard (error 1016).
///
/// Threads: no shared mutable state; one thread uses one matcher at a time.
class TPatternMatcher {
 public:
  /// Number of group bound pairs: group 0 (the whole match) and the 14 capturing groups.
  static constexpr int kGroupCount = 15;

  /// Default modifier flags of a new matcher: i off, r on, s on, g on, m off, x off.
  static constexpr bool kDefaultModifierI = false;
  static constexpr bool kDefaultModifierR = true;
  static constexpr bool kDefaultModifierS = true;
  static constexpr bool kDefaultModifierG = true;
  static constexpr bool kDefaultModifierM = false;
  static constexpr bool kDefaultModifierX = false;

  TPatternMatcher();
  ~TPatternMatcher();
  TPatternMatcher(const TPatternMatcher&) = delete;
  TPatternMatcher& operator=(const TPatternMatcher&) = delete;

  /// The pattern text (up to its first NUL byte). Writing a different text drops the compiled
  /// program; compilation waits for the next search. An empty text leaves no expression.
  const std::string& Expression() const { return expression_; }
  void SetExpression(std::string_view expression);

  /// Modifier flags: i case-insensitive, r Cyrillic ranges, s `.` matches line breaks,
  /// g plain quantifiers greedy, m multi-line `^` `$`, x extended syntax. A change takes
  /// effect at the next search, which then recompiles.
  bool ModifierI() const { return modifier_i_; }
  bool ModifierR() const { return modifier_r_; }
  bool ModifierS() const { return modifier_s_; }
  bool ModifierG() const { return modifier_g_; }
  bool ModifierM() const { return modifier_m_; }
  bool ModifierX() const { return modifier_x_; }
  void SetModifierI(bool on) { modifier_i_ = on; }
  void SetModifierR(bool on) { modifier_r_ = on; }
  void SetModifierS(bool on) { modifier_s_ = on; }
  void SetModifierG(bool on) { modifier_g_ = on; }
  void SetModifierM(bool on) { modifier_m_ = on; }
  void SetModifierX(bool on) { modifier_x_ = on; }

  /// The pair of bytes that counts as one line break under m (CR LF by default): two
  /// different bytes, or empty to switch pairing off; anything else raises error 128.
  const std::string& LinePairedSeparator() const { return paired_separator_; }
  void SetLinePairedSeparator(std::string_view separator);

  /// The effective input: the text last written, up to its first NUL byte. Error 1008 if no
  /// input was ever written. Writing clears all group bounds.
  std::string InputString() const;
  void SetInputString(std::string_view text);

  /// `InputString` := text, then a search from offset 1. True when the pattern matched.
  bool Exec(std::string_view text);

  /// A search of the current input from the 1-based `offset`: error 1006 below 1, false
  /// (no error) beyond the input length plus 1.
  bool ExecPos(int offset);

  /// Continues after the previous match: from just past it, or one byte further when it was
  /// empty, so matches never overlap and an empty match is never found twice at one place.
  /// Error 1007 if group 0 is unset (no previous match, or the last search failed).
  bool ExecNext();

  /// Group n of the current match (0 the whole match, 1..14 the capturing groups in the order
  /// of their opening parentheses). Empty text, and -1 for position and length, when n is
  /// outside 0..14, there is no input, or the group did not take part in the match.
  /// `GroupPos` is 1-based.
  std::string GroupText(int n) const;
  int GroupPos(int n) const;
  int GroupLen(int n) const;

  /// A copy of `text` with every match replaced by `replacement`, expanded by
  /// `ExpandTemplate` when `expand` is set. The matcher's input stays set to `text`.
  std::string ReplaceAll(std::string_view text, std::string_view replacement, bool expand);

  /// `template_text` with "$n", "${n}", "$&", "${&}" replaced by the current match's groups
  /// and "\c" by the byte c. Error 1005 if there is no input.
  std::string ExpandTemplate(std::string_view template_text) const;

  /// Compiles the expression now if it is not compiled for the current flags (a search does
  /// this itself). Raises the compile error, if any.
  void Compile();

  /// The number of capturing groups of the expression (compiles it if needed).
  int GroupCount();

  /// The code of the last error raised by this matcher, 0 if none.
  int LastError() const { return last_error_; }

 private:
  [[noreturn]] void Raise(int error_id);
  // The modifier flags as a Flag set (same bit order).
  int Flags() const {
    return (modifier_i_ ? 1 : 0) | (modifier_r_ ? 2 : 0) | (modifier_s_ ? 4 : 0) |
           (modifier_g_ ? 8 : 0) | (modifier_m_ ? 16 : 0) | (modifier_x_ ? 32 : 0);
  }
  bool Search(std::size_t start);
  void ClearGroups();
  bool GroupSet(int n) const;

  std::string expression_;
  bool modifier_i_ = kDefaultModifierI;
  bool modifier_r_ = kDefaultModifierR;
  bool modifier_s_ = kDefaultModifierS;
  bool modifier_g_ = kDefaultModifierG;
  bool modifier_m_ = kDefaultModifierM;
  bool modifier_x_ = kDefaultModifierX;
  std::string paired_separator_ = "\r\n";

  // The compiled program, or null while the expression is only stored.
  std::unique_ptr<Program> program_;

  // The effective input (cut at its first NUL byte); has_input_ once any input was written.
  std::string input_;
  bool has_input_ = false;

  // Group bounds as 0-based [start, end) byte offsets; 0xFFFFFFFF when unset.
  std::uint32_t group_start_[kGroupCount];
  std::uint32_t group_end_[kGroupCount];

  // Backtrack stack and failure memo, kept between searches of the same input and program.
  std::unique_ptr<Executor> executor_;

  mutable int last_error_ = 0;  // also set by const reads that raise
};

}  // namespace djkivo::pattern
