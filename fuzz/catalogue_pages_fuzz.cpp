// Bytes from the network or the disk through the scrapers and the play-list reader: nothing may
// crash, and every play list read from a file must survive a save and a load unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/core/my_list.h"
#include "app/core/scrapers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace djkivo::app;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ScrapeCategoryPage(bytes);
  ScrapeSearchPage(bytes);
  ResolveStreamAddress(bytes);

  const TarrMyListDj list = ParseMyList(bytes);
  for (const TMyListDj& entry : list) {
    if (entry.name.size() > kMaxMyListField || entry.uploader.size() > kMaxMyListField ||
        entry.id.size() > kMaxMyListField)
      std::abort();
  }
  if (ParseMyList(FormatMyList(list)) != list)
    std::abort();
  return 0;
}
