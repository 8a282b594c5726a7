// The play-list commands that join the catalogue and playback: adding a row's song, the double
// click, delete and clear, and which commands the song list's menu offers in each view.
#include "app/core/player_controller.h"

#include <filesystem>

#include "tests/app/core/player_fixture.h"

namespace djkivo::app {
namespace {

using test::TestSong;

class PlayerControllerTest : public test::PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    // Every list page lists the same three songs; their play pages have no stream.
    pages_.list_answer = [](const std::string&, ListKind) {
      return ListPage{true, {{"a", "ua", "1"}, {"b", "ub", "2"}, {"c", "uc", "3"}}, {}};
    };
  }

  std::string File() const { return djkivo::test::ReadFileBytes(PlayListPath()); }
};

TEST_F(PlayerControllerTest, AddingASongListsItOnceSavesItAndPlaysIt) {
  controller_->Catalogue().OpenCategory(1);
  controller_->AddToPlayList(-1);  // no row selected
  controller_->AddToPlayList(7);   // no such row
  EXPECT_TRUE(pages_.play_requests.empty());
  EXPECT_FALSE(std::filesystem::exists(PlayListPath()));

  controller_->AddToPlayList(1);
  EXPECT_EQ(File(), "b|ub|2\r\n");
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 0);
  EXPECT_EQ(pages_.play_requests, (std::vector<std::string>{PlayPageOf("2")}));

  std::filesystem::remove(PlayListPath());
  controller_->PlaySelected(1);  // a double click outside the play list adds: listed already
  EXPECT_EQ(controller_->MyList().MyList().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(PlayListPath()));
  EXPECT_EQ(PlayPageRequests("2"), 2);

  controller_->PlaySelected(2);
  EXPECT_EQ(File(), "b|ub|2\r\nc|uc|3\r\n");
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 1);
  EXPECT_TRUE(view_.errors.empty());
  // Only the category's load changed rows: the play list, not shown, gained its entries unseen.
  EXPECT_EQ(view_.row_changes, (std::vector<std::string>{"reset", "reset"}));
}

TEST_F(PlayerControllerTest, AFailedSaveShowsItsMessageAndTheSongStillPlays) {
  std::filesystem::create_directory(PlayListPath());  // a folder where the file should go
  controller_->LoadPlayList();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_EQ(view_.errors[0], "Cannot open file \"" + PlayListPath() + "\". Is a directory");

  controller_->Catalogue().OpenCategory(2);
  controller_->AddToPlayList(0);
  ASSERT_EQ(view_.errors.size(), 2u);
  EXPECT_EQ(view_.errors[1].rfind("Cannot create file \"" + PlayListPath() + "\".", 0), 0u);
  EXPECT_EQ(controller_->MyList().MyList().size(), 1u);
  EXPECT_EQ(PlayPageRequests("1"), 1);
}

TEST_F(PlayerControllerTest, InThePlayListADoubleClickPlaysTheRowsEntryAndTheRowIsSelected) {
  UsePlayList({DemoSong(0), DemoSong(1), DemoSong(2)});
  controller_->ShowPlayList();
  EXPECT_EQ(view_.selected, -1);  // no entry chosen yet
  controller_->PlaySelected(-1);
  EXPECT_TRUE(pages_.play_requests.empty());
  controller_->PlaySelected(2);
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 2);
  EXPECT_EQ(view_.selected, 2);  // the playing entry is highlighted
  EXPECT_EQ(controller_->MyList().MyList().size(), 3u);
  controller_->Playback().NextSong();
  EXPECT_EQ(view_.selected, 0);
}

class LongSongPlayerTest : public PlayerControllerTest {
 protected:
  demo::SongLength Length() const override { return demo::SongLength::kNormal; }
};

// The play list's highlighted entry is the one the title names: while a song plays, entries
// that failed to start are not highlighted in its place.
TEST_F(LongSongPlayerTest, ThePlayListSelectsTheEntryTheTitleNames) {
  UsePlayList({DemoSong(0), GoneSong("901"), DemoSong(1)});
  controller_->Playback().PlayEntry(0);
  controller_->Playback().NextSong();  // entry 1 cannot start: entry 0 plays on
  ASSERT_EQ(controller_->MyList().CurrentIndex(), 1);
  controller_->ShowPlayList();
  EXPECT_EQ(view_.selected, 0);
  controller_->PlaySelected(1);  // again
  EXPECT_EQ(view_.selected, 0);
  controller_->PlaySelected(2);
  EXPECT_EQ(view_.selected, 2);
  controller_->Playback().PreviousSong();
  EXPECT_EQ(view_.selected, 2);
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 1);
  controller_->Close();  // nothing plays: the title names the current entry again
  controller_->Catalogue().ShowHome();
  controller_->ShowPlayList();
  EXPECT_EQ(view_.selected, 1);
}

TEST_F(PlayerControllerTest, DeleteAndClearWorkInThePlayListOnlyAndTellTheViewTheirRows) {
  UsePlayList({NoStreamSong("1"), NoStreamSong("2"), NoStreamSong("3")});
  const std::string before = File();
  controller_->Catalogue().OpenCategory(1);
  controller_->DeleteEntry(0);
  controller_->ClearPlayList();
  EXPECT_EQ(controller_->MyList().MyList().size(), 3u);
  EXPECT_EQ(File(), before);

  controller_->ShowPlayList();
  controller_->Playback().PlayEntry(2);
  view_.row_changes.clear();
  controller_->DeleteEntry(2);  // the current entry: the index moves to the one before it
  EXPECT_EQ(view_.row_changes, (std::vector<std::string>{"remove 2"}));
  EXPECT_EQ(controller_->MyList().CurrentIndex(), 1);
  EXPECT_EQ(File(), "no stream 1|uploader|1\r\nno stream 2|uploader|2\r\n");
  EXPECT_EQ(controller_->Catalogue().RowCount(), 2);

  std::filesystem::remove(PlayListPath());
  controller_->DeleteEntry(-1);  // nothing selected: only saved
  EXPECT_EQ(File(), "no stream 1|uploader|1\r\nno stream 2|uploader|2\r\n");

  controller_->ClearPlayList();
  EXPECT_EQ(view_.row_changes.back(), "reset");
  EXPECT_EQ(File(), "");
  EXPECT_EQ(controller_->MyList().CurrentIndex(), -1);
  EXPECT_EQ(controller_->Catalogue().RowCount(), 0);
  EXPECT_TRUE(view_.errors.empty());
}

TEST_F(PlayerControllerTest, TheMenuOffersAddOutsideThePlayListAndDeleteAndClearInIt) {
  const PlayListMenu outside{true, false, false};
  const PlayListMenu inside{false, true, true};
  const struct {
    const char* view;
    std::function<void()> show;
    PlayListMenu menu;
  } kCases[] = {
      {"home", [] {}, outside},
      {"category", [&] { controller_->Catalogue().OpenCategory(3); }, outside},
      {"play list", [&] { controller_->ShowPlayList(); }, inside},
      {"search", [&] { controller_->Catalogue().Search("x"); }, outside},
      {"play list again", [&] { controller_->ShowPlayList(); }, inside},
      {"home again", [&] { controller_->Catalogue().ShowHome(); }, outside},
  };
  for (const auto& c : kCases) {
    c.show();
    EXPECT_EQ(controller_->MenuState(), c.menu) << c.view;
  }
}

}  // namespace
}  // namespace djkivo::app
