// The play-list file in bad shape: 100,000 lines full of bytes that are no GBK text, and
// folders and files the player may not write. Loading never changes the file; a save either
// replaces it whole or fails with the error box's message and leaves it as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "app/core/my_list.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

namespace djkivo::app {
namespace {

namespace fs = std::filesystem;

constexpr int kLines = 100'000;

// Line i: a name and an uploader with bytes no GBK character starts with, the id i, and a
// fourth piece ending in half a GBK character (ignored). Every tenth line has no "|" and every
// tenth-but-five only two pieces: both skipped. (A lead byte right before a "|" would make the
// pair one GBK character, so the lead byte goes at the end of the line.)
std::string HugeOddFile(int* entries) {
  std::string bytes;
  *entries = 0;
  for (int i = 0; i < kLines; ++i) {
    const std::string n = std::to_string(i);
    if (i % 10 == 0) {
      bytes += "\xff\x80 no separator " + n + "\n";
    } else if (i % 10 == 5) {
      bytes += "two\x81|pieces" + n + "\r\n";
    } else {
      bytes += "name\x80\xff" + n + "|up\xfe\x7f" + n + "|" + n + "|\x81" + (i % 2 ? "\r\n" : "\n");
      ++*entries;
    }
  }
  return bytes;
}

TEST(MyListFaultsTest, HundredThousandLinesOfInvalidBytesLoadAndSaveWhole) {
  test::TempFolder folder;
  int entries = 0;
  const std::string original = HugeOddFile(&entries);
  const fs::path path = folder.Write("mylist.txt", original);
  TMyList list(path.string());
  list.Load();
  EXPECT_EQ(test::ReadFileBytes(path), original);
  ASSERT_EQ(static_cast<int>(list.MyList().size()), entries);
  EXPECT_EQ(list.MyList()[0], (TMyListDj{"name\x80\xff"
                                         "1",
                                         "up\xfe\x7f"
                                         "1",
                                         "1"}));
  EXPECT_EQ(list.MyList().back().id, std::to_string(kLines - 1));

  EXPECT_EQ(list.Add({"new", "u", "x"}), entries);
  const std::string saved = test::ReadFileBytes(path);
  EXPECT_EQ(saved, FormatMyList(list.MyList()));
  TMyList again(path.string());
  again.Load();
  EXPECT_EQ(again.MyList(), list.MyList());
}

// Half a GBK character at the end of a field (a cut page text, or the 255-byte cut) would pair
// with the "|" after it when the file is read back; the field rules drop it, so every entry
// comes back from the file.
TEST(MyListFaultsTest, FieldsEndingInHalfACharacterSurviveASaveAndALoad) {
  const std::string long_uploader = std::string(254, 'u') + "\xEE\xEE";
  const TarrMyListDj list = {
      MakeMyListDj("name\xB9", "up", "1"),
      MakeMyListDj("\xB9\xB7", long_uploader, "2"),
      MakeMyListDj("a\x81\x30\x81", "b\xFE", "3"),
  };
  EXPECT_EQ(list[0].name, "name");
  EXPECT_EQ(list[1].uploader, std::string(254, 'u'));
  EXPECT_EQ(list[2].name, "a\x81\x30");
  EXPECT_EQ(ParseMyList(FormatMyList(list)), list);
}

using test::DropRoot;

// In a folder the player may not write, Load works and every save fails with the message
// and leaves the file and the folder as they were; the change stays in memory.
TEST(MyListFaultsTest, ReadOnlyFolderKeepsTheFileAndReportsTheSave) {
  test::TempFolder folder;
  const fs::path path = folder.Write("ro/mylist.txt", FormatMyList({{"old", "u", "1"}}));
  const std::string original = test::ReadFileBytes(path);
  fs::permissions(folder.Path(), fs::perms::all);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(path.parent_path(), fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::group_read | fs::perms::group_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EXIT(
      {
        DropRoot();
        TMyList list(path.string());
        list.Load();
        if (list.MyList().size() != 1)
          std::_Exit(4);
        try {
          list.Add({"new", "u", "2"});
          std::_Exit(5);
        } catch (const EFileError& error) {
          if (error.what() != "Cannot create file \"" + path.string() + "\". Permission denied")
            std::_Exit(6);
        }
        std::_Exit(list.MyList().size() == 2 ? 0 : 7);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::ReadFileBytes(path), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 1);
  fs::permissions(path.parent_path(), fs::perms::owner_all);
}

// A read-only file in a folder the player may write is replaced like any other: the save
// writes a new file beside it and renames it over the old one, so the list is never half
// written; the read-only mark does not survive the save.
// A play-list file the user made read-only is left as it is, even though its folder is
// writable: the save fails with the message and the change stays in memory. A writable file
// keeps its permissions across a save.
TEST(MyListFaultsTest, AReadOnlyFileIsNotReplacedAndAPrivateOneStaysPrivate) {
  test::TempFolder folder;
  const fs::path path = folder.Write("rw/mylist.txt", FormatMyList({{"old", "u", "1"}}));
  const fs::path private_path = folder.Write("rw/private.txt", FormatMyList({{"old", "u", "1"}}));
  fs::permissions(folder.Path(), fs::perms::all);
  fs::permissions(path.parent_path(), fs::perms::all);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(private_path, fs::perms::owner_read | fs::perms::owner_write);
  if (::geteuid() == 0) {  // the child saves it as the unprivileged user
    ASSERT_EQ(::chown(private_path.c_str(), test::kUnprivilegedId, test::kUnprivilegedId), 0);
  }
  EXPECT_EXIT(
      {
        DropRoot();
        TMyList list(path.string());
        list.Load();
        try {
          list.Add({"new", "u", "2"});
          std::_Exit(1);
        } catch (const EFileError& error) {
          if (std::string(error.what()) !=
              "Cannot create file \"" + path.string() + "\". Permission denied")
            std::_Exit(2);
        }
        if (list.MyList().size() != 2)
          std::_Exit(4);
        TMyList private_list(private_path.string());
        private_list.Load();
        private_list.Add({"new", "u", "2"});
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::ReadFileBytes(path), FormatMyList({{"old", "u", "1"}}));
  EXPECT_EQ(test::ReadFileBytes(private_path),
            FormatMyList({{"old", "u", "1"}, {"new", "u", "2"}}));
  EXPECT_EQ(fs::status(private_path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace djkivo::app
