#include "app/core/catalogue_address.h"

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(CatalogueAddressTest, CategoryAddressesByItemIndex) {
  const struct {
    int index;
    const char* word;
  } kCases[] = {{1, "recommend"},      {2, "recommend_month"}, {3, "recommend_download"},
                {4, "recommend_year"}, {7, "Kushiyaki"},       {8, "chinese"},
                {9, "foreign"},        {10, "remix"}};
  for (const auto& c : kCases) {
    const std::string word = c.word;
    EXPECT_EQ(CategoryFirstPageAddress("h:8080", c.index),
              "http://h:8080/dance/sort/" + word + "_1.html");
    EXPECT_EQ(CategoryTemplateAddress("h", c.index),
              "http://h/dance/sort/" + word + "_[page].html");
    EXPECT_EQ(CategoryByPathWord(word), c.index);
  }
  for (const int index : {-1, 0, 5, 6, 11, 12, 13})
    EXPECT_EQ(CategoryFirstPageAddress("h", index), "") << index;
  EXPECT_EQ(CategoryByPathWord("kushiyaki"), std::nullopt);
}

TEST(CatalogueAddressTest, SearchPlayAndHomeAddresses) {
  EXPECT_EQ(SearchFirstPageAddress("h", "a b"),
            "http://h/search.html?pageid=1&keyword=a+b&keytype=1");
  EXPECT_EQ(SearchTemplateAddress("h", ""),
            "http://h/search.html?pageid=[page]&keyword=&keytype=1");
  EXPECT_EQ(PlayPageAddress("h:1", "12345"), "http://h:1/dance/play/12345.html");
  EXPECT_EQ(VersionFileAddress("home"), "http://home/djKivodata/ver.txt");
  EXPECT_EQ(HomePageAddress("home:81"), "http://home:81");
}

TEST(CatalogueAddressTest, AHostMayCarryItsScheme) {
  EXPECT_EQ(CategoryFirstPageAddress("https://h:8443", 1),
            "https://h:8443/dance/sort/recommend_1.html");
  EXPECT_EQ(SearchFirstPageAddress("https://h/", "a"),
            "https://h/search.html?pageid=1&keyword=a&keytype=1");
  EXPECT_EQ(PlayPageAddress("http://h", "7"), "http://h/dance/play/7.html");
  EXPECT_EQ(PlayPageAddress("[::1]:8080", "7"), "http://[::1]:8080/dance/play/7.html");
  EXPECT_EQ(VersionFileAddress("https://[::1]:8443"), "https://[::1]:8443/djKivodata/ver.txt");
  EXPECT_EQ(HomePageAddress("https://home//"), "https://home");
}

TEST(CatalogueAddressTest, PageSubstitutionReplacesEveryPlaceholder) {
  EXPECT_EQ(PageAddress("http://h/a_[page].html", 12), "http://h/a_12.html");
  EXPECT_EQ(PageAddress("[page]x[page][page", 3), "3x3[page");
  EXPECT_EQ(PageAddress("no placeholder", 3), "no placeholder");
}

}  // namespace
}  // namespace djkivo::app
