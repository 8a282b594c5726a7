// Whether a configured site host (`CatalogueHost`, `HomeSiteHost`) names a host at all. An
// address built from one that does not ("http:///djKivodata/ver.txt", "http://:8080") would
// reach nothing a user meant, so the player never requests it. Pure; any thread.
#pragma once

#include <string_view>

namespace djkivo::app {

/// True when `host` ("NAME", "NAME:PORT", "[ADDRESS]:PORT", optionally after "http://" or
/// "https://") has a non-empty host name before its port and any path.
bool NamesAHost(std::string_view host);

}  // namespace djkivo::app
