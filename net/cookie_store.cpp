// Cookie store. Covered by tests/net/http_client_test.cpp (cookies group).
#include "net/cookie_store.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <limits>
#include <string_view>

#include "net/http_text.h"

namespace djkivo::net {

namespace {

bool DomainMatches(const std::string& host, const std::string& domain) {
  if (host == domain)
    return true;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view request_path, const std::string& cookie_path) {
  if (!request_path.starts_with(cookie_path))
    return false;
  return request_path.size() == cookie_path.size() || cookie_path.ends_with('/') ||
         request_path[cookie_path.size()] == '/';
}

// The directory of the request path, without its trailing '/' unless it is the root.
std::string DefaultPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0)
    return "/";
  return path.substr(0, slash);
}

// A cookie lives at most this long, as browsers cap Max-Age and Expires: the store's clock
// counts nanoseconds, and adding some 9.2e9 seconds or more to it would overflow.
constexpr std::chrono::seconds kMaxCookieLife = std::chrono::hours(24 * 400);

// The expiry `seconds` from `now`, capped at kMaxCookieLife; at or before `now` it has expired.
TCookieStore::Clock::time_point ExpiryAfter(TCookieStore::Clock::time_point now,
                                            std::int64_t seconds) {
  if (seconds <= 0)
    return TCookieStore::Clock::time_point::min();
  return now + std::min(std::chrono::seconds(seconds), kMaxCookieLife);
}

// Max-Age: a whole number of seconds; one too large to hold is the longest life.
std::optional<std::int64_t> ParseMaxAge(std::string_view value) {
  std::int64_t seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (end != value.data() + value.size() || value.empty())
    return std::nullopt;
  if (error == std::errc::result_out_of_range)
    return value.starts_with('-') ? std::numeric_limits<std::int64_t>::min()
                                  : std::numeric_limits<std::int64_t>::max();
  if (error != std::errc())
    return std::nullopt;
  return seconds;
}

std::optional<TCookieStore::Clock::time_point> ParseHttpDate(const std::string& text,
                                                             TCookieStore::Clock::time_point now) {
  std::tm parts{};
  for (const char* format :
       {"%a, %d %b %Y %H:%M:%S", "%a, %d-%b-%Y %H:%M:%S", "%a, %d-%b-%y %H:%M:%S"}) {
    parts = std::tm{};
    if (::strptime(text.c_str(), format, &parts) != nullptr) {
      // Counted in seconds from `now`, so that a date centuries away cannot overflow the clock.
      const std::int64_t now_seconds = TCookieStore::Clock::to_time_t(now);
      return ExpiryAfter(now, static_cast<std::int64_t>(::timegm(&parts)) - now_seconds);
    }
  }
  return std::nullopt;
}

}  // namespace

void TCookieStore::AddServerCookies(const std::vector<std::string>& set_cookie_values,
                                    const THttpAddress& address, Clock::time_point now) {
  const std::string host = AsciiLowered(address.host);
  for (const std::string& text : set_cookie_values) {
    std::string_view rest = text;
    const std::size_t first_end = rest.find(';');
    const std::string_view pair = rest.substr(0, first_end);
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos)
      continue;
    Cookie cookie;
    cookie.name = std::string(Trimmed(pair.substr(0, equals)));
    cookie.value = std::string(Trimmed(pair.substr(equals + 1)));
    if (cookie.name.empty())
      continue;
    cookie.domain = host;
    cookie.path = DefaultPath(address.path);
    bool domain_ok = true;
    std::optional<std::int64_t> max_age;
    rest = first_end == std::string_view::npos ? std::string_view() : rest.substr(first_end + 1);
    while (!rest.empty()) {
      const std::size_t end = rest.find(';');
      const std::string_view attribute = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      const std::size_t eq = attribute.find('=');
      const std::string name = AsciiLowered(Trimmed(attribute.substr(0, eq)));
      const std::string_view value =
          eq == std::string_view::npos ? std::string_view() : Trimmed(attribute.substr(eq + 1));
      if (name == "domain" && !value.empty()) {
        std::string domain = AsciiLowered(value.starts_with('.') ? value.substr(1) : value);
        domain_ok = DomainMatches(host, domain);
        cookie.domain = std::move(domain);
        cookie.host_only = false;
      } else if (name == "path" && value.starts_with('/')) {
        cookie.path = std::string(value);
      } else if (name == "secure") {
        cookie.secure = true;
      } else if (name == "max-age") {
        if (const std::optional<std::int64_t> seconds = ParseMaxAge(value))
          max_age = seconds;
      } else if (name == "expires") {
        cookie.expires = ParseHttpDate(std::string(value), now);
      }
    }
    // Only a secure page may set a Secure cookie: a plain one could otherwise plant a cookie
    // that a later https page of the same site trusts.
    if (!domain_ok || (cookie.secure && !IEquals(address.protocol, "https")))
      continue;
    if (max_age)  // Max-Age wins over Expires
      cookie.expires = ExpiryAfter(now, *max_age);
    const auto twin = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& stored) {
      return stored.name == cookie.name && stored.domain == cookie.domain &&
             stored.path == cookie.path;
    });
    const bool expired = cookie.expires && *cookie.expires <= now;
    if (twin != cookies_.end()) {
      if (expired) {
        cookies_.erase(twin);
      } else {
        cookie.order = twin->order;
        *twin = std::move(cookie);
      }
    } else if (!expired) {
      cookie.order = next_order_++;
      cookies_.push_back(std::move(cookie));
    }
  }
}

std::string TCookieStore::CookieHeader(const THttpAddress& address, Clock::time_point now) {
  std::erase_if(cookies_,
                [&](const Cookie& cookie) { return cookie.expires && *cookie.expires <= now; });
  const std::string host = AsciiLowered(address.host);
  const std::string request_path = address.path + address.document;
  const bool secure = IEquals(address.protocol, "https");
  std::vector<const Cookie*> chosen;
  for (const Cookie& cookie : cookies_) {
    const bool host_ok =
        cookie.host_only ? host == cookie.domain : DomainMatches(host, cookie.domain);
    if (host_ok && PathMatches(request_path, cookie.path) && (!cookie.secure || secure))
      chosen.push_back(&cookie);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size())
      return a->path.size() > b->path.size();
    return a->order < b->order;
  });
  std::string header;
  for (const Cookie* cookie : chosen) {
    if (!header.empty())
      header += "; ";
    header += cookie->name + "=" + cookie->value;
  }
  return header;
}

}  // namespace djkivo::net
