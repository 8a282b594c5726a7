#include "app/core/play_list_location.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/core/my_list.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

namespace djkivo::app {
namespace {

namespace fs = std::filesystem;

constexpr char kOldList[] = "old|u|1\r\n";

// A temporary home with an executable's folder in it, open to the unprivileged user.
class PlayListLocationTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(folder_.Path(), fs::perms::all);
    fs::create_directories(Bin());
  }

  fs::path Bin() const { return folder_.Path() / "bin"; }
  fs::path Data() const { return folder_.Path() / "data"; }

  PlayListPlaces Places() const {
    return {Bin().string(), Data().string(), (folder_.Path() / "home").string()};
  }

  /// A list beside the executable that the unprivileged user may read but not replace.
  void ReadOnlyListBesideTheExecutable() {
    folder_.Write("bin/mylist.txt", kOldList);
    fs::permissions(Bin() / "mylist.txt",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(Bin(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  }

  test::TempFolder folder_;
};

TEST_F(PlayListLocationTest, TheDataFolderUnlessAWritableListIsBesideTheExecutable) {
  PlayListChoice fresh = ChoosePlayListFile(Places());
  EXPECT_EQ(fresh.path, (Data() / "djkivo/mylist.txt").string());
  EXPECT_TRUE(fresh.in_data_folder);
  EXPECT_EQ(fresh.import_from, "");

  // XDG: an unset or relative data home means ~/.local/share.
  for (const char* data_home : {"", "relative/data"}) {
    PlayListPlaces places = Places();
    places.data_home = data_home;
    EXPECT_EQ(ChoosePlayListFile(places).path,
              (folder_.Path() / "home/.local/share/djkivo/mylist.txt").string())
        << data_home;
  }

  // An unpacked copy keeps its list beside it, even when the data folder has one too.
  folder_.Write("data/djkivo/mylist.txt", "data|u|2\r\n");
  folder_.Write("bin/mylist.txt", kOldList);
  PlayListChoice unpacked = ChoosePlayListFile(Places());
  EXPECT_EQ(unpacked.path, (Bin() / "mylist.txt").string());
  EXPECT_FALSE(unpacked.in_data_folder);

  // --playlist names any file, as it is.
  EXPECT_EQ(PlayListFileFor("/some/list.txt", Places()).path, "/some/list.txt");
  EXPECT_FALSE(PlayListFileFor("/some/list.txt", Places()).in_data_folder);
}

TEST_F(PlayListLocationTest, TheFirstSaveMakesThePrivateDataFolder) {
  const PlayListChoice choice = PlayListFileFor("", Places());
  TMyList list(choice.path, choice.in_data_folder);
  list.Load();
  EXPECT_TRUE(list.MyList().empty());
  EXPECT_FALSE(fs::exists(Data())) << "nothing is made before the first save";
  list.Add({"name", "uploader", "7"});
  EXPECT_EQ(test::ReadFileBytes(Data() / "djkivo/mylist.txt"), "name|uploader|7\r\n");
  EXPECT_EQ(fs::status(Data() / "djkivo").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(Data()).permissions(), fs::perms::owner_all);
}

// The first start of an installed copy where an older one kept its list beside the executable,
// read-only now: the list is carried into the data folder and used, never replaced by an
// empty one; the old file stays as it was. When the data folder cannot be made, the old file
// itself is used.
TEST_F(PlayListLocationTest, AReadOnlyOldListIsCarriedOverAndNeverLost) {
  ReadOnlyListBesideTheExecutable();
  const std::string data_list = (Data() / "djkivo/mylist.txt").string();
  EXPECT_EXIT(
      {
        test::DropRoot();
        const PlayListChoice choice = ChoosePlayListFile(Places());
        if (choice.path != data_list || choice.import_from != (Bin() / "mylist.txt").string())
          std::_Exit(4);
        const PlayListChoice used = PlayListFileFor("", Places());
        if (used.path != data_list || used.note.find("copied") == std::string::npos)
          std::_Exit(5);
        TMyList list(used.path, used.in_data_folder);
        list.Load();
        if (list.MyList().size() != 1)
          std::_Exit(6);
        list.Add({"new", "u", "2"});
        // Carried over once: the next start uses the data folder's list as it is.
        if (!PlayListFileFor("", Places()).import_from.empty())
          std::_Exit(7);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::ReadFileBytes(data_list), "old|u|1\r\nnew|u|2\r\n");
  EXPECT_EQ(test::ReadFileBytes(Bin() / "mylist.txt"), kOldList);

  // No data folder can be made under a read-only home.
  fs::remove_all(Data());
  PlayListPlaces places = Places();
  places.data_home = (Bin() / "data").string();
  EXPECT_EXIT(
      {
        test::DropRoot();
        const PlayListChoice used = PlayListFileFor("", places);
        if (used.path != (Bin() / "mylist.txt").string() || used.in_data_folder ||
            used.note.find("Permission denied") == std::string::npos)
          std::_Exit(4);
        TMyList list(used.path, used.in_data_folder);
        list.Load();
        std::_Exit(list.MyList().size() == 1 ? 0 : 5);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::ReadFileBytes(Bin() / "mylist.txt"), kOldList);
}

}  // namespace
}  // namespace djkivo::app
