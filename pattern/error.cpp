// Covered by the bad-pattern table in tests/pattern/matcher_test.cpp.
// The matcher's error table.
#include "pattern/error.h"

namespace djkivo::pattern {

std::string EPatternError::MessageFor(int error_id) {
  switch (error_id) {
    case kPatternNullArgument:
      return "TPatternMatcher(comp): Null Argument";
    case kPatternTooManyGroups:
      return "TPatternMatcher(comp): ParseReg Too Many ()";
    case kPatternUnmatchedOpen:
    case kPatternUnmatchedClose:
      return "TPatternMatcher(comp): ParseReg Unmatched ()";
    case kPatternJunkOnEnd:
      return "TPatternMatcher(comp): ParseReg Junk On End";
    case kPatternOperandCouldBeEmpty:
      return "TPatternMatcher(comp): *+ Operand Could Be Empty";
    case kPatternNestedQuantifier:
      return "TPatternMatcher(comp): Nested *?+";
    case kPatternBadHexDigit:
      return "TPatternMatcher(comp): Bad Hex Digit";
    case kPatternInvalidRange:
      return "TPatternMatcher(comp): Invalid [] Range";
    case kPatternClassTrailingBackslash:
      return "TPatternMatcher(comp): Parse Atom Trailing \\";
    case kPatternNoHexCode:
      return "TPatternMatcher(comp): No Hex Code After \\x";
    case kPatternHexCodeTooBig:
      return "TPatternMatcher(comp): Hex Code After \\x Is Too Big";
    case kPatternUnmatchedBracket:
      return "TPatternMatcher(comp): Unmatched []";
    case kPatternInternalUrp:
      return "TPatternMatcher(comp): Internal Urp";
    case kPatternFollowsNothing:
      return "TPatternMatcher(comp): ?+*{ Follows Nothing";
    case kPatternTrailingBackslash:
      return "TPatternMatcher(comp): Trailing \\";
    case kPatternInternalDisaster:
      return "TPatternMatcher(comp): RarseAtom Internal Disaster";
    case kPatternBracesTooBig:
      return "TPatternMatcher(comp): BRACES Argument Too Big";
    case kPatternBraceMinGreaterMax:
      return "TPatternMatcher(comp): BRACE Min Param Greater then Max";
    case kPatternUnclosedComment:
      return "TPatternMatcher(comp): Unclosed (?#Comment)";
    case kPatternUnrecognizedModifier:
      return "TPatternMatcher(comp): Urecognized Modifier";
    case kPatternBadPairedSeparator:
      return "TPatternMatcher(comp): LinePairedSeparator must countain two different chars or "
             "no chars at all";
    case kPatternRepeatInappropriate:
      return "TPatternMatcher(exec): RegRepeat Called Inappropriately";
    case kPatternMemoryCorruption:
      return "TPatternMatcher(exec): MatchPrim Memory Corruption";
    case kPatternCorruptedPointers:
      return "TPatternMatcher(exec): MatchPrim Corrupted Pointers";
    case kPatternNoExpression:
      return "TPatternMatcher(exec): Not Assigned Expression Property";
    case kPatternCorruptedProgram:
      return "TPatternMatcher(exec): Corrupted Program";
    case kPatternNoInput:
      return "TPatternMatcher(exec): No Input String Specified";
    case kPatternBadOffset:
      return "TPatternMatcher(exec): Offset Must Be Greater Then 0";
    case kPatternExecNextWithoutExec:
      return "TPatternMatcher(exec): ExecNext Without Exec[Pos]";
    case kPatternNoInputToRead:
      return "TPatternMatcher(exec): GetInputString Without InputString";
    case kPatternLoopStackExceeded:
      return "TPatternMatcher(exec): Loop Stack Exceeded";
    case kPatternLoopWithoutEntry:
      return "TPatternMatcher(exec): Loop Without LoopEntry !";
    case kPatternStepLimitExceeded:
      return "TPatternMatcher(exec): Match Step Limit Exceeded";
    case kPatternBacktrackLimitExceeded:
      return "TPatternMatcher(exec): Backtrack Stack Limit Exceeded";
    default:
      return "Unknown error";
  }
}

namespace {
std::string FullMessage(int error_id, int error_pos) {
  std::string message = EPatternError::MessageFor(error_id);
  if (error_id < 1000)
    message += " (pos " + std::to_string(error_pos) + ")";
  return message;
}
}  // namespace

EPatternError::EPatternError(int error_id, int error_pos)
    : std::runtime_error(FullMessage(error_id, error_pos)),
      error_id_(error_id),
      error_pos_(error_pos) {}

}  // namespace djkivo::pattern
