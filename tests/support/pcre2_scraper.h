// The list scrapers rebuilt on PCRE2 with its JIT: the oracle the scraper and demo site tests
// compare with and the anchor of the catalogue benchmark. Header-only, so only the test and
// benchmark programs (which link PCRE2) pull it in.
#pragma once

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace djkivo::test {

/// One compiled pattern with "." matching line breaks (the player's matcher's default).
class Pcre2Pattern {
 public:
  explicit Pcre2Pattern(std::string_view pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                          PCRE2_DOTALL, &error, &offset, nullptr);
    if (!code_)
      throw std::runtime_error("PCRE2 cannot compile " + std::string(pattern));
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pcre2Pattern() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }
  Pcre2Pattern(const Pcre2Pattern&) = delete;
  Pcre2Pattern& operator=(const Pcre2Pattern&) = delete;

  /// Searches `subject` from byte `start`; true with the groups readable through `Group`.
  bool Match(std::string_view subject, std::size_t start) {
    subject_ = subject;
    return pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start,
                       0, data_, nullptr) > 0;
  }
  std::string Group(int n) const {
    const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data_);
    if (n < 0 || static_cast<std::uint32_t>(n) >= pcre2_get_ovector_count(data_) ||
        v[2 * n] == PCRE2_UNSET)
      return {};
    return std::string(subject_.substr(v[2 * n], v[2 * n + 1] - v[2 * n]));
  }
  /// The number of groups of a match, group 0 included.
  int GroupCount() const { return static_cast<int>(pcre2_get_ovector_count(data_)); }
  std::size_t End() const { return pcre2_get_ovector_pointer(data_)[1]; }
  std::size_t Start() const { return pcre2_get_ovector_pointer(data_)[0]; }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
  std::string_view subject_;
};

/// Every match of `pattern` in `subject`, each as its groups 0..N: leftmost-first, not
/// overlapping, and one byte on after an empty match, as the player's matcher goes on.
inline std::vector<std::vector<std::string>> Pcre2MatchAll(std::string_view pattern,
                                                           std::string_view subject) {
  Pcre2Pattern compiled(pattern);
  std::vector<std::vector<std::string>> matches;
  for (std::size_t start = 0; start <= subject.size() && compiled.Match(subject, start);) {
    std::vector<std::string> groups;
    for (int n = 0; n < compiled.GroupCount(); ++n)
      groups.push_back(compiled.Group(n));
    matches.push_back(std::move(groups));
    start = compiled.End() > compiled.Start() ? compiled.End() : compiled.End() + 1;
  }
  return matches;
}

/// Groups 1 to 3 of every row match inside the first block match, as the player scrapes a list
/// page (apostrophes turned into double quotes first; no clean-ups).
inline std::vector<std::array<std::string, 3>> Pcre2ScrapeRows(std::string page,
                                                               Pcre2Pattern& block,
                                                               Pcre2Pattern& row) {
  std::replace(page.begin(), page.end(), '\'', '"');
  std::vector<std::array<std::string, 3>> rows;
  if (!block.Match(page, 0))
    return rows;
  const std::string list = block.Group(1);
  for (std::size_t start = 0; start <= list.size() && row.Match(list, start);) {
    rows.push_back({row.Group(1), row.Group(2), row.Group(3)});
    start = row.End() > row.Start() ? row.End() : row.End() + 1;
  }
  return rows;
}

}  // namespace djkivo::test
