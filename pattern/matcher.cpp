// Covered by tests/pattern/matcher_test.cpp and scrape_test.cpp.
// TPatternMatcher: expression and input state, searches, groups, replacement.
#include "pattern/matcher.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "pattern/exec.h"
#include "pattern/program.h"

namespace djkivo::pattern {

static_assert(kFlagI == 1 && kFlagR == 2 && kFlagS == 4 && kFlagG == 8 && kFlagM == 16 &&
                  kFlagX == 32,
              "TPatternMatcher::Flags packs the flags in this order");

namespace {
// The text up to its first NUL byte.
std::string_view UpToNul(std::string_view text) {
  std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}
// Positions are ints in the interface; longer inputs are cut here rather than overflow them.
constexpr std::size_t kMaxInput = static_cast<std::size_t>(std::numeric_limits<int>::max()) - 1;
}  // namespace

TPatternMatcher::TPatternMatcher() : executor_(std::make_unique<Executor>()) { ClearGroups(); }

TPatternMatcher::~TPatternMatcher() = default;

void TPatternMatcher::Raise(int error_id) {
  last_error_ = error_id;
  throw EPatternError(error_id, 0);
}

void TPatternMatcher::ClearGroups() {
  std::fill(std::begin(group_start_), std::end(group_start_), kUnset);
  std::fill(std::begin(group_end_), std::end(group_end_), kUnset);
}

void TPatternMatcher::SetExpression(std::string_view expression) {
  expression = UpToNul(expression);
  if (expression == expression_ && program_)
    return;
  expression_.assign(expression);
  program_.reset();
}

void TPatternMatcher::SetLinePairedSeparator(std::string_view separator) {
  if (!(separator.empty() || (separator.size() == 2 && separator[0] != separator[1])))
    Raise(kPatternBadPairedSeparator);
  if (separator != paired_separator_) {
    paired_separator_.assign(separator);
    program_.reset();
  }
}

std::string TPatternMatcher::InputString() const {
  if (!has_input_) {
    last_error_ = kPatternNoInputToRead;
    throw EPatternError(kPatternNoInputToRead, 0);
  }
  return input_;
}

void TPatternMatcher::SetInputString(std::string_view text) {
  ClearGroups();
  text = UpToNul(text);
  if (text.size() > kMaxInput)
    text = text.substr(0, kMaxInput);
  if (!has_input_ || text != input_) {
    input_.assign(text);
    executor_->Reset();
  }
  has_input_ = true;
}

void TPatternMatcher::Compile() {
  if (expression_.empty())
    Raise(kPatternNullArgument);
  if (program_ && program_->flags == Flags())
    return;
  program_.reset();
  executor_->Reset();
  try {
    program_ = std::make_unique<Program>(CompilePattern(expression_, Flags(), paired_separator_));
  } catch (const EPatternError& e) {
    last_error_ = e.ErrorId();
    throw;
  }
}

int TPatternMatcher::GroupCount() {
  Compile();
  return program_->group_count;
}

bool TPatternMatcher::Search(std::size_t offset) {
  ClearGroups();
  if (expression_.empty())
    Raise(kPatternNoExpression);
  Compile();
  if (!has_input_)
    Raise(kPatternNoInput);
  if (offset < 1)
    Raise(kPatternBadOffset);
  if (offset > input_.size() + 1)
    return false;
  try {
    return executor_->Search(*program_, input_, offset - 1, group_start_, group_end_);
  } catch (const EPatternError& e) {
    ClearGroups();
    last_error_ = e.ErrorId();
    throw;
  }
}

bool TPatternMatcher::Exec(std::string_view text) {
  SetInputString(text);
  return Search(1);
}

bool TPatternMatcher::ExecPos(int offset) {
  return Search(offset < 1 ? 0 : static_cast<std::size_t>(offset));
}

bool TPatternMatcher::ExecNext() {
  if (group_start_[0] == kUnset)
    Raise(kPatternExecNextWithoutExec);
  std::size_t next = static_cast<std::size_t>(group_end_[0]) + 1;
  if (group_end_[0] == group_start_[0])
    ++next;
  return Search(next);
}

bool TPatternMatcher::GroupSet(int n) const {
  return n >= 0 && n < kGroupCount && has_input_ && group_start_[n] != kUnset &&
         group_end_[n] != kUnset;
}

std::string TPatternMatcher::GroupText(int n) const {
  if (!GroupSet(n))
    return {};
  return input_.substr(group_start_[n], group_end_[n] - group_start_[n]);
}

int TPatternMatcher::GroupPos(int n) const {
  return GroupSet(n) ? static_cast<int>(group_start_[n]) + 1 : -1;
}

int TPatternMatcher::GroupLen(int n) const {
  return GroupSet(n) ? static_cast<int>(group_end_[n] - group_start_[n]) : -1;
}

std::string TPatternMatcher::ReplaceAll(std::string_view text, std::string_view replacement,
                                        bool expand) {
  std::string result;
  std::size_t p = 0;  // 0-based: bytes of text before p are done
  if (Exec(text)) {
    do {
      const std::size_t start = group_start_[0];
      result.append(text.substr(p, start - p));
      if (expand && !replacement.empty())
        result += ExpandTemplate(replacement);
      else
        result.append(replacement);
      p = group_end_[0];
    } while (ExecNext());
  }
  if (p < text.size())
    result.append(text.substr(p));
  return result;
}

std::string TPatternMatcher::ExpandTemplate(std::string_view template_text) const {
  if (!has_input_) {
    last_error_ = kPatternNoInput;
    throw EPatternError(kPatternNoInput, 0);
  }
  std::string result;
  const std::size_t size = template_text.size();
  if (size == 0)
    return result;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  // Appends group n (n < 0: none) and returns the index after the reference.
  auto append_group = [&](long n) {
    if (n >= 0 && n < kGroupCount)
      result += GroupText(static_cast<int>(n));
  };
  auto read_number = [&](std::size_t& k) {
    long n = 0;
    while (k < size && digit(template_text[k])) {
      if (n < kGroupCount)
        n = n * 10 + (template_text[k] - '0');
      ++k;
    }
    return n;
  };
  std::size_t i = 0;
  while (i < size) {
    const char c = template_text[i];
    if (c == '\\' && i + 1 < size) {
      result += template_text[i + 1];
      i += 2;
      continue;
    }
    if (c == '$' && i + 1 < size) {
      const char d = template_text[i + 1];
      if (digit(d)) {
        std::size_t k = i + 1;
        append_group(read_number(k));
        i = k;
        continue;
      }
      if (d == '&') {
        append_group(0);
        i += 2;
        continue;
      }
      if (d == '{') {
        std::size_t k = i + 2;
        if (k + 1 < size && template_text[k] == '&' && template_text[k + 1] == '}') {
          append_group(0);
          i = k + 2;
          continue;
        }
        if (k < size && digit(template_text[k])) {
          long n = read_number(k);
          if (k < size && template_text[k] == '}') {
            append_group(n);
            i = k + 1;
            continue;
          }
        }
      }
    }
    result += c;
    ++i;
  }
  return result;
}

}  // namespace djkivo::pattern
