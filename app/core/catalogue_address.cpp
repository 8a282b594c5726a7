#include "app/core/catalogue_address.h"

#include <array>

#include "base/query_value.h"

namespace djkivo::app {

namespace {

struct CategoryPath {
  int index;
  std::string_view word;
};

constexpr std::array<CategoryPath, 8> kCategories = {{
    {1, "recommend"},
    {2, "recommend_month"},
    {3, "recommend_download"},
    {4, "recommend_year"},
    {7, "Kushiyaki"},
    {8, "chinese"},
    {9, "foreign"},
    {10, "remix"},
}};

std::string CategoryAddress(std::string_view host, int category_index, std::string_view page) {
  const std::string_view word = CategoryPathWord(category_index);
  if (word.empty())
    return {};
  std::string address = SiteOrigin(host);
  address.append("/dance/sort/").append(word).append("_").append(page).append(".html");
  return address;
}

std::string SearchAddress(std::string_view host, std::string_view keyword, std::string_view page) {
  std::string address = SiteOrigin(host);
  address.append("/search.html?pageid=").append(page).append("&keyword=");
  address.append(EncodeQueryValue(keyword)).append("&keytype=1");
  return address;
}

}  // namespace

bool IsCatalogueCategory(int category_index) { return !CategoryPathWord(category_index).empty(); }

std::string_view CategoryPathWord(int category_index) {
  for (const CategoryPath& category : kCategories)
    if (category.index == category_index)
      return category.word;
  return {};
}

std::optional<int> CategoryByPathWord(std::string_view word) {
  for (const CategoryPath& category : kCategories)
    if (category.word == word)
      return category.index;
  return std::nullopt;
}

std::string CategoryFirstPageAddress(std::string_view host, int category_index) {
  return CategoryAddress(host, category_index, "1");
}

std::string CategoryTemplateAddress(std::string_view host, int category_index) {
  return CategoryAddress(host, category_index, kPagePlaceholder);
}

std::string SearchFirstPageAddress(std::string_view host, std::string_view keyword) {
  return SearchAddress(host, keyword, "1");
}

std::string SearchTemplateAddress(std::string_view host, std::string_view keyword) {
  return SearchAddress(host, keyword, kPagePlaceholder);
}

std::string PageAddress(std::string_view page_url_template, int page) {
  const std::string number = std::to_string(page);
  std::string address;
  std::size_t start = 0;
  for (std::size_t found = page_url_template.find(kPagePlaceholder);
       found != std::string_view::npos; found = page_url_template.find(kPagePlaceholder, start)) {
    address.append(page_url_template.substr(start, found - start)).append(number);
    start = found + kPagePlaceholder.size();
  }
  address.append(page_url_template.substr(start));
  return address;
}

std::string PlayPageAddress(std::string_view host, std::string_view song_id) {
  std::string address = SiteOrigin(host);
  address.append("/dance/play/").append(song_id).append(".html");
  return address;
}

std::string VersionFileAddress(std::string_view home_host) {
  return SiteOrigin(home_host).append("/djKivodata/ver.txt");
}

std::string HomePageAddress(std::string_view home_host) { return SiteOrigin(home_host); }

std::string SiteOrigin(std::string_view host) {
  if (host.find("://") == std::string_view::npos)
    return std::string("http://").append(host);
  while (host.ends_with('/'))
    host.remove_suffix(1);
  return std::string(host);
}

}  // namespace djkivo::app
