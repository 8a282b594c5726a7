// EPatternError: the one exception the pattern matcher raises, with its table of codes.
#pragma once

#include <stdexcept>
#include <string>

namespace djkivo::pattern {

/// The codes `EPatternError::ErrorId` carries. Codes below 1000 are raised while compiling a
/// pattern and their message ends in " (pos N)"; codes of 1000 and above are raised by a search.
enum PatternErrorCode : int {
  kPatternNullArgument = 100,         // compiling without an expression text
  kPatternTooManyGroups = 102,        // a 15th capturing group opens
  kPatternUnmatchedOpen = 103,        // a group is not closed
  kPatternUnmatchedClose = 104,       // a ')' has no group
  kPatternJunkOnEnd = 105,            // text left after the top-level expression
  kPatternOperandCouldBeEmpty = 106,  // '*', '+' or a count after an element that can match empty
  kPatternNestedQuantifier = 107,     // a quantifier, or any '{', right after a quantifier
  kPatternBadHexDigit = 108,          // a non-hex byte in \x
  kPatternInvalidRange = 109,         // a class range whose end is below its start
  kPatternClassTrailingBackslash = 110,   // a class ends in a lone backslash
  kPatternNoHexCode = 111,                // \x at the end of the pattern or of its braces
  kPatternHexCodeTooBig = 112,            // more than two hex digits in \x{...}
  kPatternUnmatchedBracket = 113,         // a class without ']'
  kPatternInternalUrp = 114,              // internal consistency failure
  kPatternFollowsNothing = 115,           // a quantifier begins an alternative
  kPatternTrailingBackslash = 116,        // the pattern ends in a lone backslash
  kPatternInternalDisaster = 119,         // internal consistency failure
  kPatternBracesTooBig = 122,             // a count of more than 8 digits
  kPatternBraceMinGreaterMax = 124,       // a count {n,m} with m < n
  kPatternUnclosedComment = 125,          // "(?#" without ')'
  kPatternUnrecognizedModifier = 127,     // any other "(?" form, or "(?" without ")"
  kPatternBadPairedSeparator = 128,       // a paired separator that is not two different bytes
  kPatternRepeatInappropriate = 1000,     // internal consistency failure
  kPatternMemoryCorruption = 1001,        // internal consistency failure
  kPatternCorruptedPointers = 1002,       // internal consistency failure
  kPatternNoExpression = 1003,            // a search with no expression
  kPatternCorruptedProgram = 1004,        // the compiled program fails its check
  kPatternNoInput = 1005,                 // a search or template expansion with no input
  kPatternBadOffset = 1006,               // a search offset below 1
  kPatternExecNextWithoutExec = 1007,     // ExecNext while group 0 is unset
  kPatternNoInputToRead = 1008,           // reading InputString before any write
  kPatternLoopStackExceeded = 1014,       // more than 10 counted or lazy group loops nested
  kPatternLoopWithoutEntry = 1015,        // internal consistency failure
  kPatternStepLimitExceeded = 1016,       // last guard: a search took more steps than its budget
  kPatternBacktrackLimitExceeded = 1017,  // last guard: the backtrack stack outgrew its bound
};

/// The matcher's failure: a compile error in the pattern, or a search that cannot run.
/// `what()` is the system's exact message for the code: "TPatternMatcher(comp): ... (pos N)"
/// for compile errors, "TPatternMatcher(exec): ..." for search errors, "Unknown error" for a
/// code without an entry.
class EPatternError : public std::runtime_error {
 public:
  /// `error_pos` is the 0-based offset in the expression at which compilation stopped (0 for
  /// search errors).
  EPatternError(int error_id, int error_pos);

  int ErrorId() const { return error_id_; }
  int ErrorPos() const { return error_pos_; }

  /// The message for `error_id` without the position suffix.
  static std::string MessageFor(int error_id);

 private:
  int error_id_;
  int error_pos_;
};

}  // namespace djkivo::pattern
