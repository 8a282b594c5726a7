// djkivo-cli scrape, resolve, list, search and playlist run as a separate process against the
// demo site started by the test; and the scrapers on every kind of demo page, cross-checked
// with PCRE2.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/catalogue_address.h"
#include "app/core/fetch_page.h"
#include "app/core/scrapers.h"
#include "base/query_value.h"
#include "demo/demo_site.h"
#include "tests/support/pcre2_scraper.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace djkivo::cli {
namespace {

namespace fs = std::filesystem;

constexpr char kDefaultKeywordUtf8[] = "\xE7\x8B\x97\xE5\xB0\xBE\xE8\x8D\x89";  // 狗尾草
constexpr char kDefaultKeywordGbk[] = "\xB9\xB7\xCE\xB2\xB2\xDD";

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Quoted(std::string text) {
  std::replace(text.begin(), text.end(), '\'', '"');
  return text;
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class CatalogueCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "catalogue_site.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    site_folder_ = new fs::path(pattern);
    demo::DemoSiteOptions options;
    options.cache_folder = pattern;
    site_ = new demo::DemoSite(options);
    site_->Start();
  }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
    fs::remove_all(*site_folder_);
    delete site_folder_;
  }

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "catalogue_command_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs djkivo-cli with `args`, standard input from `input`; waits for it to end.
  Result Run(std::vector<std::string> args, const std::string& input = "") {
    const fs::path in = folder_ / "stdin", out = folder_ / "stdout", err = folder_ / "stderr";
    WriteFile(in, input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), DJKIVO_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    if (posix_spawn(&pid, DJKIVO_CLI_PATH, &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = test::ReadFileBytes(out);
    result.err = test::ReadFileBytes(err);
    return result;
  }

  std::vector<std::string> WithHost(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--catalogue-host", site_->HostPort()});
    return args;
  }

  static std::string Rows(const std::vector<const demo::DemoSong*>& songs, bool listed) {
    std::string rows;
    for (const demo::DemoSong* song : songs)
      rows += song->id + "\t" + Quoted(listed ? song->listed_name : song->name) + "\t" +
              Quoted(song->uploader) + "\n";
    return rows;
  }

  static std::string Fetch(const std::string& path) {
    std::string page;
    EXPECT_TRUE(app::FetchPage(site_->BaseAddress() + path, page)) << path;
    return page;
  }

  static demo::DemoSite* site_;
  static fs::path* site_folder_;
  fs::path folder_;
};

demo::DemoSite* CatalogueCommandTest::site_ = nullptr;
fs::path* CatalogueCommandTest::site_folder_ = nullptr;

TEST_F(CatalogueCommandTest, ListPrintsTheRowsOfACategoryPage) {
  const demo::DemoCatalogue& catalogue = site_->Catalogue();
  const auto& categories = demo::DemoCatalogue::Categories();
  const struct {
    std::vector<std::string> args;
    int category;  // position in `categories`
    int page;
  } kCases[] = {
      {{"list", "recommend", "1"}, 0, 1},
      {{"list", "recommend"}, 0, 1},
      {{"list", "2", "2"}, 1, 2},
      {{"list", "Kushiyaki", "0x3"}, 4, 3},
      {{"list", "10", "-4"}, 7, 1},
      {{"list", "chinese", "99"}, 5, 99},  // past the last page: no rows, no failure
  };
  for (const auto& c : kCases) {
    const Result result = Run(WithHost(c.args));
    EXPECT_EQ(result.status, 0) << c.args[1] << result.err;
    EXPECT_EQ(result.out, Rows(catalogue.CategoryPage(categories[c.category], c.page), true))
        << c.args[1];
  }
}

TEST_F(CatalogueCommandTest, SearchSendsTheKeywordAsGbkAndPrintsPlainNames) {
  site_->ClearRequests();
  const Result result = Run(WithHost({"search", kDefaultKeywordUtf8}));
  EXPECT_EQ(result.status, 0) << result.err;
  std::vector<const demo::DemoSong*> found = site_->Catalogue().Search(kDefaultKeywordGbk);
  ASSERT_FALSE(found.empty());
  found.resize(std::min<std::size_t>(found.size(), demo::kRowsPerPage));
  EXPECT_EQ(result.out, Rows(found, false));
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=1&keyword=%B9%B7%CE%B2%B2%DD&keytype=1"), 1);

  EXPECT_EQ(Run(WithHost({"search", "a b", "2"})).status, 0);
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=2&keyword=a+b&keytype=1"), 1);
}

TEST_F(CatalogueCommandTest, WrongUsageAndUnreadablePages) {
  const struct {
    std::vector<std::string> args;
    int status;
  } kCases[] = {
      {{"--catalogue-host", "127.0.0.1:1", "list", "recommend"}, 1},  // nothing listens there
      {{"list", "recommend"}, 64},                                    // no host
      {{"list", "5"}, 64},
      {{"list", "recommend_week"}, 64},
      {{"list", "recommend", "x"}, 64},
      {{"--catalogue-host", "h", "search", "\xB9\xB7"}, 64},  // not UTF-8
      {{"scrape", "list", "-"}, 64},
      {{"scrape", "category", "/nonexistent/page.html"}, 1},
      {{"resolve"}, 64},
  };
  for (const auto& c : kCases) {
    const Result result = Run(c.args);
    EXPECT_EQ(result.status, c.status) << c.args.back();
    EXPECT_EQ(result.out, "") << c.args.back();
    EXPECT_NE(result.err, "") << c.args.back();
  }
}

TEST_F(CatalogueCommandTest, ScrapeAndResolveReadFilesOrStandardInput) {
  const std::string category_page = Fetch("/dance/sort/remix_2.html");
  WriteFile(folder_ / "page.html", category_page);
  const Result from_file = Run({"scrape", "category", (folder_ / "page.html").string()});
  EXPECT_EQ(from_file.status, 0);
  EXPECT_EQ(from_file.out,
            Rows(site_->Catalogue().CategoryPage(demo::DemoCatalogue::Categories()[7], 2), true));
  EXPECT_EQ(Run({"scrape", "category", "-"}, category_page).out, from_file.out);
  EXPECT_EQ(Run({"scrape", "search", "-"}, category_page).out, "");

  for (const demo::DemoSong& song : site_->Catalogue().Songs()) {
    const std::string page = Fetch("/dance/play/" + song.id + ".html");
    const std::string expected = site_->BaseAddress() + "/audio/" + song.id +
                                 (song.format == demo::AudioFormat::kMp3 ? ".mp3" : ".wma");
    EXPECT_EQ(app::ResolveStreamAddress(page), expected) << song.id;
    if (song.apostrophe_quotes || &song == &site_->Catalogue().Songs().front()) {
      const Result resolved = Run({"resolve", "-"}, page);
      EXPECT_EQ(resolved.status, 0);
      EXPECT_EQ(resolved.out, expected + "\n");
    }
  }
  const Result no_script = Run({"resolve", "-"}, category_page);
  EXPECT_EQ(no_script.status, 1);
  EXPECT_EQ(no_script.out, "");
}

TEST_F(CatalogueCommandTest, ScrapersAgreeWithPcre2OnEveryDemoPage) {
  test::Pcre2Pattern category_block(app::kCategoryBlockPattern);
  test::Pcre2Pattern category_row(app::kCategoryRowPattern);
  test::Pcre2Pattern search_block(app::kSearchBlockPattern);
  test::Pcre2Pattern search_row(app::kSearchRowPattern);
  const auto as_rows = [](const std::vector<app::SongEntry>& songs) {
    std::vector<std::array<std::string, 3>> rows;
    for (const app::SongEntry& song : songs)
      rows.push_back({song.id, song.name, song.uploader});
    return rows;
  };
  for (const demo::DemoCategory& category : demo::DemoCatalogue::Categories()) {
    for (int page = 1; page <= demo::kCategoryPages + 1; ++page) {
      const std::string text =
          Fetch("/_f/gzip,chunked" + std::string("/dance/sort/") + std::string(category.slug) +
                "_" + std::to_string(page) + ".html");
      const std::vector<app::SongEntry> songs = app::ScrapeCategoryPage(text);
      EXPECT_EQ(as_rows(songs), test::Pcre2ScrapeRows(text, category_block, category_row));
      EXPECT_EQ(songs.size(), page <= demo::kCategoryPages ? demo::kRowsPerPage : 0u);
    }
  }
  for (const char* keyword : {kDefaultKeywordGbk, "a", "", "zzzz"}) {
    const std::string text =
        Fetch("/search.html?pageid=1&keyword=" + EncodeQueryValue(keyword) + "&keytype=1");
    const std::vector<app::SongEntry> songs = app::ScrapeSearchPage(text);
    const auto oracle = test::Pcre2ScrapeRows(text, search_block, search_row);
    ASSERT_EQ(songs.size(), oracle.size()) << keyword;
    for (std::size_t i = 0; i < songs.size(); ++i) {
      EXPECT_EQ(songs[i].id, oracle[i][0]);
      if (*keyword != '\0') {  // the keyword is in bold in every name found
        EXPECT_NE(oracle[i][1].find("<"), std::string::npos);
      }
      EXPECT_EQ(songs[i].name.find("<"), std::string::npos);
    }
    std::vector<const demo::DemoSong*> found = site_->Catalogue().Search(keyword);
    found.resize(std::min<std::size_t>(found.size(), demo::kRowsPerPage));
    std::string expected = Rows(found, false), got;
    for (const app::SongEntry& song : songs)
      got += song.id + "\t" + song.name + "\t" + song.uploader + "\n";
    EXPECT_EQ(got, expected) << keyword;
  }
}

TEST_F(CatalogueCommandTest, PlayListCommands) {
  const std::string path = (folder_ / "mylist.txt").string();
  const auto playlist = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "playlist");
    args.insert(args.end(), {"--playlist", path});
    return Run(args);
  };
  EXPECT_EQ(playlist({"show"}).out, "");
  EXPECT_EQ(playlist({"add", "11", "\xB9\xB7 a|b", "up"}).out, "0\n");
  EXPECT_EQ(playlist({"add", "22", "two", "up2"}).out, "1\n");
  EXPECT_EQ(playlist({"add", "11", "again", "x"}).out, "0\n");
  EXPECT_EQ(test::ReadFileBytes(path),
            "\xB9\xB7 a\xA3\xFC"
            "b|up|11\r\ntwo|up2|22\r\n");
  EXPECT_EQ(playlist({"show"}).out,
            "0\t11\t\xB9\xB7 a\xA3\xFC"
            "b\tup\n1\t22\ttwo\tup2\n");
  EXPECT_EQ(playlist({"delete", "0"}).status, 0);
  EXPECT_EQ(test::ReadFileBytes(path), "two|up2|22\r\n");
  EXPECT_EQ(playlist({"delete", "1"}).status, 1);
  EXPECT_EQ(playlist({"delete", "x"}).status, 64);
  EXPECT_EQ(test::ReadFileBytes(path), "two|up2|22\r\n");
  EXPECT_EQ(playlist({"clear"}).status, 0);
  EXPECT_EQ(test::ReadFileBytes(path), "");
  EXPECT_TRUE(fs::exists(path));

  const std::string unwritable = (folder_ / "no folder" / "mylist.txt").string();
  const Result failed = Run({"--playlist", unwritable, "playlist", "add", "1", "n", "u"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err,
            "djkivo-cli: Cannot create file \"" + unwritable + "\". No such file or directory\n");
}

}  // namespace
}  // namespace djkivo::cli
