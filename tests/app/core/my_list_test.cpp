#include "app/core/my_list.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

namespace fs = std::filesystem;

class MyListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "my_list_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    path_ = (folder_ / "mylist.txt").string();
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string ReadBytes() const { return test::ReadFileBytes(path_); }
  void WriteBytes(const std::string& bytes) const {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path folder_;
  std::string path_;
};

TEST_F(MyListTest, FileIsByteExactAfterAddDeleteAndClear) {
  TMyList list(path_);
  EXPECT_EQ(list.Add({"\xB9\xB7 one", "up1", "11"}), 0);
  EXPECT_EQ(list.Add({"two", "up2", "22"}), 1);
  EXPECT_EQ(list.Add({"three", "", "33"}), 2);
  EXPECT_EQ(ReadBytes(), "\xB9\xB7 one|up1|11\r\ntwo|up2|22\r\nthree||33\r\n");
  list.DeleteMyListEntry(0);
  list.SaveMyList();
  EXPECT_EQ(ReadBytes(), "two|up2|22\r\nthree||33\r\n");
  EXPECT_EQ(list.Add({"four", "up4", "44"}), 2);
  EXPECT_EQ(ReadBytes(), "two|up2|22\r\nthree||33\r\nfour|up4|44\r\n");

  TMyList reloaded(path_);
  reloaded.Load();
  EXPECT_EQ(reloaded.MyList(), list.MyList());
  EXPECT_EQ(reloaded.CurrentIndex(), -1);

  list.Clear();
  EXPECT_EQ(ReadBytes(), "");
  EXPECT_TRUE(list.MyList().empty());
  EXPECT_EQ(list.CurrentIndex(), -1);
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"mylist.txt"});  // no temporary left
}

TEST_F(MyListTest, AddingAKnownIdSelectsItWithoutWriting) {
  TMyList list(path_);
  list.Add({"a", "u", "1"});
  list.Add({"b", "u", "2"});
  WriteBytes("sentinel");
  EXPECT_EQ(list.Add({"another name", "x", "1"}), 0);
  EXPECT_EQ(list.CurrentIndex(), 0);
  EXPECT_EQ(list.MyList().size(), 2u);
  EXPECT_EQ(ReadBytes(), "sentinel");
  // Ids are compared byte for byte.
  EXPECT_EQ(list.Add({"c", "u", "01"}), 2);
}

TEST_F(MyListTest, LoadsOddFiles) {
  const std::string name300(300, 'n');
  const struct {
    std::string bytes;
    TarrMyListDj expected;
  } kCases[] = {
      {"", {}},
      {"a|b|1\r\nc|d|2\r\n", {{"a", "b", "1"}, {"c", "d", "2"}}},
      {"a|b|1|extra|more\r\n", {{"a", "b", "1"}}},
      {"two|pieces\r\nno bar\r\n\r\n|\r\na|b|1", {{"a", "b", "1"}}},
      {"a|b|1\rc|d|2\re|f|3", {{"a", "b", "1"}, {"c", "d", "2"}, {"e", "f", "3"}}},
      {"a|b|1\n\nc|d|2\r\n\re|f|3\n", {{"a", "b", "1"}, {"c", "d", "2"}, {"e", "f", "3"}}},
      {"a|b|1\r\na|b|1\r\n", {{"a", "b", "1"}, {"a", "b", "1"}}},  // duplicates stay
      {name300 + "|u|1\r\n", {{std::string(255, 'n'), "u", "1"}}},
      // "\xB0\x7C" is one GBK character whose second byte is "|": not a separator.
      {"\xB0\x7C|u|1\r\n", {{"\xB0\x7C", "u", "1"}}},
      {"||\r\n", {{"", "", ""}}},
  };
  for (const auto& c : kCases) {
    WriteBytes(c.bytes);
    TMyList list(path_);
    list.Load();
    EXPECT_EQ(list.MyList(), c.expected) << c.bytes;
  }
}

TEST_F(MyListTest, FieldRulesKeepEveryEntryOnItsOwnLine) {
  // 254 ASCII bytes then a double-byte character: the cut drops the whole character.
  const std::string long_name = std::string(254, 'x') + "\xB9\xB7";
  const struct {
    SongEntry song;
    TMyListDj stored;
  } kCases[] = {
      {{"a|b", "c|", "1"},
       {"a\xA3\xFC"
        "b",
        "c\xA3\xFC", "1"}},
      {{"line\r\nbreak", "u\n", "2"}, {"line  break", "u ", "2"}},
      {{long_name, "u", "3"}, {std::string(254, 'x'), "u", "3"}},
      {{std::string(300, 'y'), std::string(256, 'z'), "4"},
       {std::string(255, 'y'), std::string(255, 'z'), "4"}},
      {{"\xB0\x7C", "u", "5"}, {"\xB0\x7C", "u", "5"}},
  };
  TMyList list(path_);
  TarrMyListDj expected;
  for (const auto& c : kCases) {
    list.Add(c.song);
    expected.push_back(c.stored);
  }
  EXPECT_EQ(list.MyList(), expected);
  TMyList reloaded(path_);
  reloaded.Load();
  EXPECT_EQ(reloaded.MyList(), expected);
}

TEST_F(MyListTest, DeleteKeepsCurrentIndexOnTheSameSongOrTheOneBefore) {
  const struct {
    int size;
    int current;
    int deleted;
    int expected_current;
    int expected_size;
  } kCases[] = {
      {3, 2, 0, 1, 2},    // an earlier entry: same song
      {3, 1, 1, 0, 2},    // the current entry: the one before it
      {3, 0, 2, 0, 2},    // a later entry: unchanged
      {3, 0, 0, 0, 2},    // entry 0 while current is 0
      {3, -1, 0, 0, 2},   // entry 0 while none is chosen
      {3, -1, 2, 0, 2},   // a later entry while none is chosen: 0 after any deletion
      {1, 0, 0, 0, 0},    // the only entry
      {3, 1, -1, 1, 3},   // no row: nothing
      {3, 1, 3, 1, 3},    // past the end: nothing
      {0, -1, 0, -1, 0},  // empty list: nothing
  };
  for (const auto& c : kCases) {
    TMyList list(path_);
    for (int i = 0; i < c.size; ++i)
      list.Add({"n", "u", std::to_string(i)});
    list.SetCurrentIndex(c.current);
    list.DeleteMyListEntry(c.deleted);
    EXPECT_EQ(list.CurrentIndex(), c.expected_current)
        << c.size << " " << c.current << " " << c.deleted;
    EXPECT_EQ(static_cast<int>(list.MyList().size()), c.expected_size);
  }
}

TEST_F(MyListTest, MissingFileLoadsEmptyAndUnreadableFileReportsTheReason) {
  TMyList missing(path_);
  missing.Load();
  EXPECT_TRUE(missing.MyList().empty());

  fs::create_directory(path_);
  TMyList unreadable(path_);
  try {
    unreadable.Load();
    ADD_FAILURE() << "loaded a folder";
  } catch (const EFileError& error) {
    EXPECT_EQ(error.what(), "Cannot open file \"" + path_ + "\". Is a directory");
  }
  EXPECT_TRUE(unreadable.MyList().empty());
}

TEST_F(MyListTest, UnwritableFileKeepsTheChangeInMemory) {
  const std::string path = (folder_ / "missing folder" / "mylist.txt").string();
  TMyList list(path);
  try {
    list.Add({"a", "u", "1"});
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const EFileError& error) {
    EXPECT_EQ(error.what(), "Cannot create file \"" + path + "\". No such file or directory");
  }
  ASSERT_EQ(list.MyList().size(), 1u);
  EXPECT_EQ(list.CurrentIndex(), 0);
  EXPECT_THROW(list.Clear(), EFileError);
  EXPECT_TRUE(list.MyList().empty());
}

TEST_F(MyListTest, FailedWriteLeavesTheOldFileWhole) {
  TMyList list(path_);
  list.Add({"old", "u", "1"});
  const std::string old_bytes = ReadBytes();
  // A file-size limit makes the write of the temporary file fail part-way.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto saved_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string error_message;
  try {
    list.Add({std::string(200, 'n'), "u", "2"});
  } catch (const EFileError& error) {
    error_message = error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, saved_handler);
  EXPECT_EQ(error_message, "Cannot create file \"" + path_ + "\". File too large");
  EXPECT_EQ(ReadBytes(), old_bytes);
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"mylist.txt"});
  EXPECT_EQ(list.MyList().size(), 2u);
}

}  // namespace
}  // namespace djkivo::app
