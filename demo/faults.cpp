#include "demo/faults.h"

#include <charconv>
#include <stdexcept>

namespace djkivo::demo {
namespace {

std::int64_t ParseCount(std::string_view item, std::string_view text, std::int64_t max) {
  std::int64_t value = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > max)
    throw std::invalid_argument("Bad fault switch \"" + std::string(item) + "\"");
  return value;
}

}  // namespace

Faults ParseFaults(std::string_view list, Faults base) {
  constexpr std::int64_t kMaxBytes = std::int64_t{1} << 40;
  Faults faults = base;
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (item.empty())
      continue;
    std::size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    bool has_value = eq != std::string_view::npos;
    if (name == "gzip" && !has_value) {
      faults.gzip = true;
    } else if (name == "chunked" && !has_value) {
      faults.chunked = true;
    } else if (name == "relative" && !has_value) {
      faults.relative_redirects = true;
    } else if (name == "404" && !has_value) {
      faults.not_found = true;
    } else if (name == "norange" && !has_value) {
      faults.no_range = true;
    } else if (name == "nolength" && !has_value) {
      faults.no_length = true;
    } else if (name == "grow" && has_value) {
      faults.grow_bytes = ParseCount(item, value, kMaxBytes);
    } else if (name == "delay" && has_value) {
      faults.delay_milliseconds = static_cast<int>(ParseCount(item, value, kMaxDelayMilliseconds));
    } else if (name == "drop" && has_value && value.find('@') != std::string_view::npos) {
      std::size_t at = value.find('@');
      faults.drop_seconds =
          static_cast<int>(ParseCount(item, value.substr(0, at), kMaxStallSeconds));
      faults.drop_at = ParseCount(item, value.substr(at + 1), kMaxBytes);
    } else if (name == "redirect" && has_value) {
      faults.redirects = static_cast<int>(ParseCount(item, value, kMaxRedirects));
    } else if (name == "slow" && has_value) {
      faults.bytes_per_second = static_cast<int>(ParseCount(item, value, 1 << 30));
    } else if (name == "stall" && has_value) {
      std::size_t at = value.find('@');
      faults.stall_seconds =
          static_cast<int>(ParseCount(item, value.substr(0, at), kMaxStallSeconds));
      faults.stall_at =
          at == std::string_view::npos ? -1 : ParseCount(item, value.substr(at + 1), kMaxBytes);
    } else if (name == "truncate" && has_value) {
      faults.truncate_at = ParseCount(item, value, kMaxBytes);
    } else if (name == "reset") {
      faults.reset_at = has_value ? ParseCount(item, value, kMaxBytes) : 0;
    } else {
      throw std::invalid_argument("Bad fault switch \"" + std::string(item) + "\"");
    }
  }
  return faults;
}

}  // namespace djkivo::demo
