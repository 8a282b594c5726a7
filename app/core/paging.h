// The rules of the four paging buttons under the song list, as pure functions of the window
// state, so that the handlers only apply the result. Any thread.
#pragma once

#include <optional>
#include <string_view>

namespace djkivo::app {

/// The paging buttons of the status bar.
enum class PagingButton {
  kFirst,     // "首页" (SkinButton9): page 1
  kPrevious,  // "上一页" (SkinButton6): one back; nothing on page 1
  kNext,      // "下一页" (SkinButton7): one on, no upper limit
  kGoTo,      // "跳转" (SkinButton8): the page typed in the page box
};

/// The page a paging button leads to, or nothing when the click does nothing at all (the home
/// picture or the play list is shown, or "上一页" on page 1). `page_box_text` is read by
/// `kGoTo` only. Throws `EConvertError` ("'TEXT' is not a valid integer value") when "跳转"
/// finds no whole number in the page box; the caller then changes nothing.
///
/// On a result the caller sets `CurrentPage` and the page box to it and loads
/// `PageAddress(PageUrlTemplate, page)` with the search scraper when `CategoryIndex` is 0, else
/// with the category scraper. A result is always 1 or more.
std::optional<int> PagingTarget(PagingButton button, int category_index, int current_page,
                                std::string_view page_box_text);

}  // namespace djkivo::app
