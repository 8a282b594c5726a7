#include "app/core/version_check.h"

#include <gtest/gtest.h>

#include "demo/demo_site.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

TEST(VersionCheckTest, OnlyAWholeNumberAboveOursAnnouncesANewerRelease) {
  test::TempFolder cache;
  demo::DemoSiteOptions options;
  options.cache_folder = cache.Path().string();
  demo::DemoSite site(options);
  site.Start();
  struct Case {
    const char* body;
    bool newer;
  } cases[] = {
      {"2", true},  {"$10", true}, {" 3", true},   {"1", false},
      {"0", false}, {"-1", false}, {"2\n", false},  // a trailing line break makes it no number
      {"", false},  {"v2", false},
  };
  for (const Case& c : cases) {
    site.SetVersionBody(c.body);
    EXPECT_EQ(NewerReleaseAnnounced(site.HostPort(), 1), c.newer) << '"' << c.body << '"';
  }
  EXPECT_EQ(site.RequestCount("/djKivodata/ver.txt"), 9);
}

TEST(VersionCheckTest, UnreachableHostIsNoNews) {
  // Port 1 on loopback: nothing listens there, the connection is refused at once.
  EXPECT_FALSE(NewerReleaseAnnounced("127.0.0.1:1", 1));
}

}  // namespace
}  // namespace djkivo::app
