// The once-per-run version check's network side: read the home site's version file and say
// whether it announces a newer release.
#pragma once

#include <string_view>

namespace djkivo::app {

/// Reads "/djKivodata/ver.txt" from `home_host` with `FetchPage` and converts its whole body
/// with the standard whole-number conversion. True when that number is greater than
/// `program_version`. An unreadable file, or a body that is not exactly a whole number (a
/// trailing line break included), gives false: the check ends silently. Runs on the worker
/// thread; touches no window state; never throws.
bool NewerReleaseAnnounced(std::string_view home_host, int program_version);

}  // namespace djkivo::app
