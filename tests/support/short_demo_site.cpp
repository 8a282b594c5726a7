#include "tests/support/short_demo_site.h"

#include <algorithm>

namespace djkivo::test {

std::unique_ptr<demo::DemoSite> StartShortDemoSite() {
  demo::DemoSiteOptions options;
  options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  options.song_length = demo::SongLength::kShort;
  auto site = std::make_unique<demo::DemoSite>(options);
  site->Start();
  return site;
}

const demo::DemoSong& LongestSong(const demo::DemoSite& site) {
  const auto& songs = site.Catalogue().Songs();
  return *std::max_element(songs.begin(), songs.end(),
                           [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
}

}  // namespace djkivo::test
