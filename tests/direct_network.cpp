// Part of every test program: it starts without the machine's proxy variables, so the tests'
// loopback peers are reached directly (and so are the child programs the tests start). The
// tests of the proxy paths give the client an environment of their own.
#include <cstdlib>
#include <initializer_list>

namespace {

[[maybe_unused]] const bool kProxyVariablesUnset = [] {
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    ::unsetenv(name);
  return true;
}();

}  // namespace
