// Cookie store. Covered by tests/net/http_client_test.cpp (cookies group).
#include "net/cookie_store.h"

#include <algorithm>
#include <charconv>
#include <ctime>
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

std::optional<TCookieStore::Clock::time_point> ParseHttpDate(const std::string& text) {
  std::tm parts{};
  for (const char* format :
       {"%a, %d %b %Y %H:%M:%S", "%a, %d-%b-%Y %H:%M:%S", "%a, %d-%b-%y %H:%M:%S"}) {
    parts = std::tm{};
    if (::strptime(text.c_str(), format, &parts) != nullptr)
      return TCookieStore::Clock::from_time_t(::timegm(&parts));
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
        std::int64_t seconds = 0;
        const auto [end_ptr, error] =
            std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error == std::errc() && end_ptr == value.data() + value.size())
          max_age = seconds;
      } else if (name == "expires") {
        cookie.expires = ParseHttpDate(std::string(value));
      }
    }
    if (!domain_ok)
      continue;
    if (max_age)  // Max-Age wins over Expires
      cookie.expires =
          *max_age <= 0 ? Clock::time_point::min() : now + std::chrono::seconds(*max_age);
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
