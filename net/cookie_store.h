// The cookies of one load: set by its responses, sent with its later requests, so a cookie
// set by a redirect reaches the page it redirects to.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/http_url.h"

namespace djkivo::net {

/// Cookies by name, domain and path, with expiry. Owned by one client; one thread.
class TCookieStore {
 public:
  using Clock = std::chrono::system_clock;

  /// Stores the cookies of a response's Set-Cookie values, received for `address`. A cookie
  /// whose Domain does not cover the host is ignored; one already expired removes its stored
  /// twin.
  void AddServerCookies(const std::vector<std::string>& set_cookie_values,
                        const THttpAddress& address, Clock::time_point now);

  /// Drops expired cookies, then gives the Cookie header value for a request to `address`:
  /// the cookies that apply, longer paths first, then in the order they were set, as
  /// "name=value" joined by "; ". Empty when none applies.
  std::string CookieHeader(const THttpAddress& address, Clock::time_point now);

  bool Empty() const { return cookies_.empty(); }

 private:
  struct Cookie {
    std::string name;
    std::string value;
    std::string domain;  // lower case, without a leading '.'
    bool host_only = true;
    std::string path;
    bool secure = false;
    std::optional<Clock::time_point> expires;  // none: lives as long as the store
    std::uint64_t order = 0;                   // when it was first set
  };

  std::vector<Cookie> cookies_;
  std::uint64_t next_order_ = 0;
};

}  // namespace djkivo::net
