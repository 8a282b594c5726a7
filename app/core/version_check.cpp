#include "app/core/version_check.h"

#include <string>

#include "app/core/catalogue_address.h"
#include "app/core/fetch_page.h"
#include "app/core/text.h"

namespace djkivo::app {

bool NewerReleaseAnnounced(std::string_view home_host, int program_version) {
  std::string body;
  if (!FetchPage(VersionFileAddress(home_host), body))
    return false;
  try {
    return StrToInt(body) > program_version;
  } catch (const EConvertError&) {
    return false;
  }
}

}  // namespace djkivo::app
