// The addresses the player reads: catalogue list pages (eight categories and the search),
// play pages, and the home site's version file and home page; plus the search keyword encoding
// and the "[page]" substitution. Pure functions of their arguments; any thread.
//
// A host is "NAME" or "NAME:PORT" ("[::1]:PORT" for IPv6), as configured (`CatalogueHost`,
// `HomeSiteHost`), and may start with its scheme: "https://NAME[:PORT]". Without one it is
// "http://", so stored settings keep working; the addresses below are shown for that case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace djkivo::app {

/// What stands for the page number in a page template.
inline constexpr std::string_view kPagePlaceholder = "[page]";

/// The category-list item index of the search results (`CategoryIndex` 0).
inline constexpr int kSearchCategory = 0;
/// The category-list item index of the play list (`CategoryIndex` 5).
inline constexpr int kMyListCategory = 5;
/// `CategoryIndex` while the home picture is shown.
inline constexpr int kHomeCategory = -1;

/// True for the item indexes of the eight catalogue categories: 1 to 4 and 7 to 10.
bool IsCatalogueCategory(int category_index);

/// The path word of a catalogue category ("recommend", "recommend_month", ..., "Kushiyaki",
/// "remix"), the part before "_1.html"; empty for an index that is no catalogue category.
std::string_view CategoryPathWord(int category_index);

/// The item index whose path word is `word` (compared exactly), if any.
std::optional<int> CategoryByPathWord(std::string_view word);

/// "http://HOST/dance/sort/WORD_1.html". Empty for an index that is no catalogue category.
std::string CategoryFirstPageAddress(std::string_view host, int category_index);
/// "http://HOST/dance/sort/WORD_[page].html". Empty for an index that is no catalogue category.
std::string CategoryTemplateAddress(std::string_view host, int category_index);

/// "http://HOST/search.html?pageid=1&keyword=K&keytype=1", K the `keyword` (GBK bytes) as
/// base/query_value.h's EncodeQueryValue encodes it.
std::string SearchFirstPageAddress(std::string_view host, std::string_view keyword);
/// "http://HOST/search.html?pageid=[page]&keyword=K&keytype=1", K the encoded `keyword`.
std::string SearchTemplateAddress(std::string_view host, std::string_view keyword);

/// `page_url_template` with every "[page]" replaced by `page` in decimal.
std::string PageAddress(std::string_view page_url_template, int page);

/// "http://HOST/dance/play/ID.html", the id inserted as stored.
std::string PlayPageAddress(std::string_view host, std::string_view song_id);

/// "http://HOST/djKivodata/ver.txt", the home site's version file.
std::string VersionFileAddress(std::string_view home_host);
/// "http://HOST", the home site's home page.
std::string HomePageAddress(std::string_view home_host);

/// Where a site's addresses start: `host` when it has a scheme ("https://HOST", without a
/// trailing '/'), else "http://HOST".
std::string SiteOrigin(std::string_view host);

}  // namespace djkivo::app
