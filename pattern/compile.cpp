// Covered by tests/pattern/matcher_test.cpp and differential_test.cpp.
// Compile: the phases in order (parse, emit, optimise) behind CompilePattern.
#include "pattern/ast.h"

namespace djkivo::pattern {

Program CompilePattern(std::string_view expression, int flags, std::string_view paired_separator) {
  ParsedPattern parsed = ParsePattern(expression, flags);
  Program prog;
  prog.flags = flags;
  prog.paired_separator = std::string(paired_separator);
  prog.group_count = parsed.groups;
  prog.has_backref = parsed.has_backref;
  Node match;
  match.op = Op::kMatch;
  prog.nodes.push_back(match);
  prog.start = EmitProgram(parsed.top, prog);
  if (prog.has_backref)
    DropBackrefMemos(prog);
  DropStraightMemos(prog);
  BuildFilter(parsed.top, prog);
  DetectLazySpan(prog);
  return prog;
}

}  // namespace djkivo::pattern
