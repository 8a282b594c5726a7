// The catalogue browser with a scripted page source and a recording view: which page each list
// command reads with which scraper, the state it leaves, and commands that run while a load
// waits (as the window's nested event loop lets them).
#include "app/core/catalogue_browser.h"

#include <gtest/gtest.h>

#include "app/core/catalogue_address.h"
#include "tests/app/core/controller_fakes.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

using test::RecordingView;
using test::ScriptedPages;

constexpr char kHost[] = "catalogue.test:8080";

std::string Sort(const std::string& word, const std::string& page) {
  return std::string("http://") + kHost + "/dance/sort/" + word + "_" + page + ".html";
}
std::string SearchPage(const std::string& keyword, const std::string& page) {
  return std::string("http://") + kHost + "/search.html?pageid=" + page + "&keyword=" + keyword +
         "&keytype=1";
}

// A page of `count` songs whose ids say which address they came from.
ListPage PageOf(const std::string& address, int count) {
  ListPage page{true, {}, {}};
  for (int i = 0; i < count; ++i)
    page.songs.push_back({"name " + address, "uploader", std::to_string(i)});
  return page;
}

class CatalogueBrowserTest : public ::testing::Test {
 protected:
  CatalogueBrowserTest()
      : my_list_((folder_.Path() / "mylist.txt").string()),
        browser_(kHost, pages_, my_list_, view_) {
    pages_.list_answer = [](const std::string& address, ListKind) { return PageOf(address, 3); };
  }

  const ScriptedPages::ListRequest& LastRequest() const { return pages_.list_requests.back(); }

  djkivo::test::TempFolder folder_;
  TMyList my_list_;
  ScriptedPages pages_;
  RecordingView view_;
  CatalogueBrowser browser_;
};

TEST_F(CatalogueBrowserTest, EachCategoryOpensOnItsFirstPage) {
  const struct {
    int item;
    const char* word;
  } kCases[] = {{1, "recommend"},      {2, "recommend_month"}, {3, "recommend_download"},
                {4, "recommend_year"}, {7, "Kushiyaki"},       {8, "chinese"},
                {9, "foreign"},        {10, "remix"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.word);
    view_.page_box = "7";
    browser_.OpenCategory(c.item);
    EXPECT_EQ(LastRequest(), (ScriptedPages::ListRequest{Sort(c.word, "1"), ListKind::kCategory}));
    EXPECT_EQ(browser_.CategoryIndex(), c.item);
    EXPECT_EQ(browser_.PageUrlTemplate(), Sort(c.word, "[page]"));
    EXPECT_EQ(browser_.CurrentPage(), 1);
    EXPECT_EQ(view_.page_box, "1");
    EXPECT_EQ(view_.highlighted, c.item);
    EXPECT_FALSE(view_.home_shown);
    ASSERT_EQ(browser_.RowCount(), 3);
    EXPECT_EQ(browser_.Row(0).name, "name " + Sort(c.word, "1"));
    EXPECT_EQ(browser_.State(), ListState::kShown);
  }
}

TEST_F(CatalogueBrowserTest, ACategoryShownIsLoadedAgainOnlyAfterAnotherListOrAFailure) {
  browser_.OpenCategory(3);
  browser_.OpenCategory(3);  // already shown
  EXPECT_EQ(pages_.list_requests.size(), 1u);

  // Clicked again while its own load still waits: that load is the one wanted.
  pages_.while_loading = [&] { browser_.OpenCategory(4); };
  browser_.OpenCategory(4);
  EXPECT_EQ(pages_.list_requests.size(), 2u);

  browser_.Search("x");
  browser_.OpenCategory(4);  // after a search
  browser_.ShowPlayList();
  browser_.OpenCategory(4);  // after the play list
  browser_.ShowHome();
  browser_.OpenCategory(4);  // after the home picture
  EXPECT_EQ(pages_.list_requests.size(), 6u);

  // A failed load leaves nothing to look at: the same category is loaded again.
  pages_.list_answer = [](const std::string&, ListKind) {
    return ListPage{false, {}, "Socket Error # 111\r\nConnection refused"};
  };
  browser_.FirstPage();
  EXPECT_EQ(browser_.State(), ListState::kFailed);
  pages_.list_answer = [](const std::string& address, ListKind) { return PageOf(address, 3); };
  browser_.OpenCategory(4);
  EXPECT_EQ(pages_.list_requests.size(), 8u);
  EXPECT_EQ(LastRequest().address, Sort("recommend_year", "1"));
  EXPECT_EQ(browser_.State(), ListState::kShown);
  EXPECT_EQ(browser_.RowCount(), 3);
}

TEST_F(CatalogueBrowserTest, SearchLoadsOnEveryClickAndLeavesThePageBoxAlone) {
  browser_.OpenCategory(1);
  browser_.NextPage();
  ASSERT_EQ(view_.page_box, "2");
  const std::string keyword = "\xB9\xB7\xCE\xB2\xB2\xDD dj";  // "狗尾草 dj" in GBK
  browser_.Search(keyword);
  browser_.Search(keyword);
  EXPECT_EQ(pages_.list_requests.size(), 4u);
  EXPECT_EQ(LastRequest(), (ScriptedPages::ListRequest{SearchPage("%B9%B7%CE%B2%B2%DD+dj", "1"),
                                                       ListKind::kSearch}));
  EXPECT_EQ(browser_.CategoryIndex(), kSearchCategory);
  EXPECT_EQ(browser_.PageUrlTemplate(), SearchPage("%B9%B7%CE%B2%B2%DD+dj", "[page]"));
  EXPECT_EQ(browser_.CurrentPage(), 1);
  EXPECT_EQ(view_.page_box, "2");
}

TEST_F(CatalogueBrowserTest, PagingFollowsItsRules) {
  browser_.NextPage();  // the home picture: inert
  EXPECT_TRUE(pages_.list_requests.empty());

  browser_.OpenCategory(2);
  browser_.PreviousPage();  // page 1: nothing at all
  EXPECT_EQ(pages_.list_requests.size(), 1u);

  const struct {
    std::function<void(CatalogueBrowser&)> click;
    int page;
  } kSteps[] = {
      {[](CatalogueBrowser& b) { b.NextPage(); }, 2},
      {[](CatalogueBrowser& b) { b.NextPage(); }, 3},
      {[](CatalogueBrowser& b) { b.PreviousPage(); }, 2},
      {[](CatalogueBrowser& b) { b.GoToPage("9"); }, 9},
      {[](CatalogueBrowser& b) { b.GoToPage("0"); }, 1},
      {[](CatalogueBrowser& b) { b.GoToPage("-3"); }, 1},
      {[](CatalogueBrowser& b) { b.GoToPage(" $A"); }, 10},
      {[](CatalogueBrowser& b) { b.GoToPage("0x2"); }, 2},
      {[](CatalogueBrowser& b) { b.FirstPage(); }, 1},
  };
  for (const auto& step : kSteps) {
    step.click(browser_);
    EXPECT_EQ(browser_.CurrentPage(), step.page);
    EXPECT_EQ(view_.page_box, std::to_string(step.page));
    EXPECT_EQ(LastRequest(),
              (ScriptedPages::ListRequest{Sort("recommend_month", std::to_string(step.page)),
                                          ListKind::kCategory}));
  }

  const std::size_t requests = pages_.list_requests.size();
  browser_.GoToPage("abc");
  EXPECT_EQ(view_.errors, (std::vector<std::string>{"'abc' is not a valid integer value"}));
  EXPECT_EQ(browser_.CurrentPage(), 1);
  EXPECT_EQ(view_.page_box, "1");
  EXPECT_EQ(pages_.list_requests.size(), requests);

  browser_.Search("a");
  browser_.NextPage();  // a search pages with the search scraper
  EXPECT_EQ(LastRequest(), (ScriptedPages::ListRequest{SearchPage("a", "2"), ListKind::kSearch}));

  browser_.ShowPlayList();  // the play list: inert
  browser_.NextPage();
  browser_.FirstPage();
  browser_.GoToPage("4");
  EXPECT_EQ(pages_.list_requests.size(), requests + 2);
}

// The fault: a next-page click while a search loaded paged the category shown before it,
// reading the category's template with the search's scraper.
TEST_F(CatalogueBrowserTest, PagingWhileALoadWaitsPagesTheListAskedForLast) {
  browser_.OpenCategory(1);
  pages_.while_loading = [&] { browser_.NextPage(); };
  browser_.Search("a");
  ASSERT_EQ(pages_.list_requests.size(), 3u);
  EXPECT_EQ(pages_.list_requests[2],
            (ScriptedPages::ListRequest{SearchPage("a", "2"), ListKind::kSearch}));
  EXPECT_EQ(browser_.CategoryIndex(), kSearchCategory);
  EXPECT_EQ(browser_.PageUrlTemplate(), SearchPage("a", "[page]"));
  EXPECT_EQ(browser_.CurrentPage(), 2);
  EXPECT_EQ(browser_.Row(0).name, "name " + SearchPage("a", "2"));  // the newer load's rows

  // And the other way round: a search's paging while a category loads pages the category.
  pages_.while_loading = [&] { browser_.GoToPage("5"); };
  browser_.OpenCategory(9);
  EXPECT_EQ(LastRequest(), (ScriptedPages::ListRequest{Sort("foreign", "5"), ListKind::kCategory}));
  EXPECT_EQ(browser_.Row(0).name, "name " + Sort("foreign", "5"));
}

TEST_F(CatalogueBrowserTest, TheNewestListCommandWinsAndAnOlderLoadDropsItsRows) {
  struct Case {
    const char* name;
    std::function<void(CatalogueBrowser&)> newer;
    int category;
    int rows;
  };
  my_list_.Add({"mine", "me", "77"});
  const Case kCases[] = {
      {"another category", [](CatalogueBrowser& b) { b.OpenCategory(7); }, 7, 1},
      {"a search", [](CatalogueBrowser& b) { b.Search("k"); }, kSearchCategory, 1},
      {"the play list", [](CatalogueBrowser& b) { b.ShowPlayList(); }, kMyListCategory, 1},
      {"the home picture", [](CatalogueBrowser& b) { b.ShowHome(); }, kHomeCategory, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    browser_.ShowHome();
    pages_.while_loading = [&] { c.newer(browser_); };
    // Every load answers one row, the first one only after the newer command ran.
    pages_.list_answer = [](const std::string& address, ListKind) { return PageOf(address, 1); };
    browser_.OpenCategory(1);
    EXPECT_EQ(browser_.CategoryIndex(), c.category);
    if (c.category == kHomeCategory) {
      EXPECT_TRUE(view_.home_shown);
      continue;
    }
    ASSERT_EQ(browser_.RowCount(), c.rows);
    EXPECT_NE(browser_.Row(0).name, "name " + Sort("recommend", "1"));
    EXPECT_EQ(browser_.State(), ListState::kShown);
  }
}

TEST_F(CatalogueBrowserTest, TheListAreaSaysWhetherItIsLoadingFailedOrEmpty) {
  ListState while_loading = ListState::kShown;
  int rows_while_loading = -1;
  pages_.while_loading = [&] {
    while_loading = view_.list_state;
    rows_while_loading = browser_.RowCount();
  };
  browser_.OpenCategory(8);
  EXPECT_EQ(while_loading, ListState::kLoading);
  EXPECT_EQ(rows_while_loading, 0);
  EXPECT_EQ(view_.list_state, ListState::kShown);

  const struct {
    ListPage answer;
    ListState state;
    const char* error;
  } kCases[] = {
      {{false, {}, "HTTP/1.1 404 Not Found"}, ListState::kFailed, "HTTP/1.1 404 Not Found"},
      {{false, {}, "Connection Closed Gracefully."},
       ListState::kFailed,
       "Connection Closed Gracefully."},
      {{true, {}, {}}, ListState::kNoSongs, ""},
      {{true, {{"a", "b", "1"}}, {}}, ListState::kShown, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.error);
    pages_.list_answer = [&](const std::string&, ListKind) { return c.answer; };
    browser_.Search("nothing");
    EXPECT_EQ(view_.list_state, c.state);
    EXPECT_EQ(view_.list_error, c.error);
    EXPECT_EQ(browser_.State(), c.state);
    EXPECT_EQ(browser_.RowCount(), static_cast<int>(c.answer.songs.size()));
    // The list's place is kept whatever the outcome, so paging goes on from it.
    EXPECT_EQ(browser_.PageUrlTemplate(), SearchPage("nothing", "[page]"));
  }
  browser_.ShowPlayList();
  EXPECT_EQ(view_.list_state, ListState::kShown);
}

TEST_F(CatalogueBrowserTest, ThePlayListViewShowsTheEntriesAsItsRows) {
  my_list_.Add({"one", "u1", "1"});
  my_list_.Add({"two", "u2", "2"});
  browser_.OpenCategory(1);
  browser_.ShowPlayList();
  EXPECT_EQ(view_.highlighted, kMyListCategory);
  ASSERT_EQ(browser_.RowCount(), 2);
  EXPECT_EQ(browser_.Row(1).name, "two");
  EXPECT_EQ(browser_.Row(1).uploader, "u2");
  EXPECT_EQ(browser_.Row(1).id, "2");
  EXPECT_EQ(browser_.RowSong(0), (SongEntry{"one", "u1", "1"}));
  EXPECT_FALSE(browser_.RowSong(2));
  EXPECT_FALSE(browser_.RowSong(-1));
  // The list the play list replaced keeps its place.
  EXPECT_EQ(browser_.PageUrlTemplate(), Sort("recommend", "[page]"));

  view_.row_changes.clear();
  browser_.ShowPlayList();  // already shown: nothing
  EXPECT_TRUE(view_.row_changes.empty());
}

}  // namespace
}  // namespace djkivo::app
