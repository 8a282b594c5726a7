// The demo site as the stream tests use it: its short songs (seconds long, made once into the
// build folder's cache and shared by every test program), started on a loopback port.
#pragma once

#include <memory>

#include "demo/demo_site.h"

namespace djkivo::test {

/// A started demo site with the short songs. Throws what DemoSite::Start throws.
std::unique_ptr<demo::DemoSite> StartShortDemoSite();

/// The site's longest song: the one a fault in the middle of a stream is tried on.
const demo::DemoSong& LongestSong(const demo::DemoSite& site);

}  // namespace djkivo::test
