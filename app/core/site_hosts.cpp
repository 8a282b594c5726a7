#include "app/core/site_hosts.h"

namespace djkivo::app {

bool NamesAHost(std::string_view host) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (host.substr(0, scheme.size()) == scheme) {
      host.remove_prefix(scheme.size());
      break;
    }
  }
  host = host.substr(0, host.find('/'));
  if (!host.empty() && host.front() == '[') {  // an IPv6 address
    const std::size_t close = host.find(']');
    return close != std::string_view::npos && close > 1;
  }
  return !host.empty() && host.front() != ':';
}

}  // namespace djkivo::app
