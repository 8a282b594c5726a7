#include "app/core/paging.h"

#include <cstdint>
#include <limits>

#include "app/core/catalogue_address.h"
#include "app/core/text.h"

namespace djkivo::app {

std::optional<int> PagingTarget(PagingButton button, int category_index, int current_page,
                                std::string_view page_box_text) {
  if (category_index != kSearchCategory && !IsCatalogueCategory(category_index))
    return std::nullopt;
  // Computed wide: a page number that leaves the 32-bit range counts as not positive, as the
  // window's 32-bit arithmetic would wrap it.
  std::int64_t page = 1;
  switch (button) {
    case PagingButton::kFirst:
      break;
    case PagingButton::kPrevious:
      if (current_page == 1)
        return std::nullopt;
      page = std::int64_t{current_page} - 1;
      break;
    case PagingButton::kNext:
      page = std::int64_t{current_page} + 1;
      break;
    case PagingButton::kGoTo:
      page = StrToInt(page_box_text);
      break;
  }
  if (page < 1 || page > std::numeric_limits<int>::max())
    page = 1;
  return static_cast<int>(page);
}

}  // namespace djkivo::app
