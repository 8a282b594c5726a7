#include "app/core/site_hosts.h"

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(SiteHostsTest, OnlyAHostWithANameIsRequested) {
  const struct {
    const char* host;
    bool names_a_host;
  } cases[] = {
      {"example.com", true},
      {"127.0.0.1:8080", true},
      {"https://example.com", true},
      {"http://a:81", true},
      {"[::1]:8080", true},
      {"[::1]", true},
      {"", false},
      {":8080", false},
      {"http://", false},
      {"https://:443", false},
      {"/djKivodata", false},
      {"[]:80", false},
      {"[::1", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NamesAHost(c.host), c.names_a_host) << c.host;
}

}  // namespace
}  // namespace djkivo::app
