// What the player controller's tests put in place of the window: a view that records what it is
// told, and a page source that answers from the test's script.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/core/catalogue_pages.h"
#include "app/core/player_view.h"

namespace djkivo::app::test {

/// A `PlayerView` that keeps the last thing it was told of each kind.
class RecordingView final : public PlayerView {
 public:
  void ShowHomePicture(bool shown) override { home_shown = shown; }
  void HighlightCategory(int item_index) override { highlighted = item_index; }
  void SetPageBox(const std::string& text) override { page_box = text; }
  void RowsReset() override { row_changes.push_back("reset"); }
  void RowsInserted(int first, int count) override {
    row_changes.push_back("insert " + std::to_string(first) + "+" + std::to_string(count));
  }
  void RowRemoved(int row) override { row_changes.push_back("remove " + std::to_string(row)); }
  void SelectRow(int row) override { selected = row; }
  void ShowListState(ListState state, const std::string& error) override {
    list_state = state;
    list_error = error;
  }
  void ShowPlaybackState(PlaybackState state) override { playback_state = state; }
  void ShowPlayMode(bool random) override { random_mode = random; }
  void SetProgress(int percent) override { progress = percent; }
  void RefreshDisplay() override { ++refreshes; }
  void ShowNotice(const PlaybackNotice& shown) override { notice = shown; }
  void ShowError(const std::string& message) override { errors.push_back(message); }
  void ShowReconnecting(bool shown) override { reconnecting.push_back(shown); }

  bool home_shown = true;
  int highlighted = -1;
  std::string page_box = "1";
  std::vector<std::string> row_changes;
  int selected = -2;  // -2: never told
  ListState list_state = ListState::kShown;
  std::string list_error;
  PlaybackState playback_state = PlaybackState::kIdle;
  bool random_mode = false;
  int progress = 50;
  int refreshes = 0;
  PlaybackNotice notice;
  std::vector<std::string> errors;
  std::vector<bool> reconnecting;  // each change, in order
};

/// A `CataloguePages` that answers from functions the test sets, and notes every request.
/// `while_loading` runs inside the next load, as the window's nested event loop runs other
/// commands while a page waits on the network; it is cleared before it runs.
class ScriptedPages final : public CataloguePages {
 public:
  struct ListRequest {
    std::string address;
    ListKind kind;

    bool operator==(const ListRequest&) const = default;
  };

  ListPage LoadList(const std::string& address, ListKind kind) override {
    list_requests.push_back({address, kind});
    RunWhileLoading();
    return list_answer ? list_answer(address, kind) : ListPage{true, {}, {}};
  }

  PlayPage LoadPlayPage(const std::string& address) override {
    play_requests.push_back(address);
    RunWhileLoading();
    return play_answer ? play_answer(address) : PlayPage{};
  }

  std::function<ListPage(const std::string& address, ListKind kind)> list_answer;
  std::function<PlayPage(const std::string& address)> play_answer;
  std::function<void()> while_loading;
  std::vector<ListRequest> list_requests;
  std::vector<std::string> play_requests;

 private:
  void RunWhileLoading() {
    if (std::function<void()> inside = std::exchange(while_loading, nullptr))
      inside();
  }
};

inline void PrintTo(const ScriptedPages::ListRequest& request, std::ostream* out) {
  *out << (request.kind == ListKind::kSearch ? "search " : "category ") << request.address;
}

}  // namespace djkivo::app::test
