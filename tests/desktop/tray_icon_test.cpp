#include "desktop/tray_icon.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace djkivo {
namespace {

using namespace std::chrono_literals;

struct FakeImage : TrayImage {
  explicit FakeImage(int n) : number(n) {}
  int number;
};

int Number(const TIcon& icon) { return icon ? static_cast<const FakeImage&>(*icon).number : -1; }

// Records every call the logic makes on the desktop, as text.
struct FakeDesktop : NotificationArea, TrayHost, TrayMenu {
  bool Add(const TIcon& icon, const std::string& tooltip) override {
    calls.push_back("add " + std::to_string(Number(icon)) + " " + tooltip);
    shown = true;
    return true;
  }
  bool Modify(const TIcon& icon, const std::string& tooltip) override {
    last_icon = Number(icon);
    last_tooltip = tooltip;
    return shown;
  }
  bool Delete() override {
    calls.push_back("delete");
    shown = false;
    return true;
  }
  bool IsAvailable() const override { return available; }
  void WatchAvailability(bool on) override { calls.push_back(on ? "watch" : "unwatch"); }
  std::optional<ScreenPoint> CursorPos() const override { return ScreenPoint{10, 20}; }
  TShiftState KeyboardState() const override { return ssCtrl; }

  bool HasMainForm() const override { return true; }
  void HideMainForm() override { calls.push_back("hide form"); }
  void HideApplication() override { calls.push_back("hide app"); }
  void RestoreApplication() override { calls.push_back("restore app"); }
  void ShowMinimized() override { calls.push_back("show minimised"); }
  void ProcessMessages() override {}

  bool AutoPopup() const override { return true; }
  void Popup(ScreenPoint at) override {
    calls.push_back("popup " + std::to_string(at.x) + "," + std::to_string(at.y));
  }
  bool ClickDefaultItem() override {
    calls.push_back("default item");
    return true;
  }

  std::vector<std::string> calls;
  bool shown = false;
  bool available = true;
  int last_icon = -2;
  std::string last_tooltip;
};

class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest() { MainThread::Install(&main_); }
  ~TrayIconTest() override { MainThread::Install(nullptr); }

  void RecordMouse(TTrayIcon& tray) {
    tray.OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) {
      desktop_.calls.push_back("down " + std::to_string(int(b)) + " " + std::to_string(s) + " " +
                               std::to_string(x) + "," + std::to_string(y));
    };
    tray.OnMouseUp = [this](TMouseButton b, TShiftState s, int, int) {
      desktop_.calls.push_back("up " + std::to_string(int(b)) + " " + std::to_string(s));
    };
    tray.OnClick = [this] { desktop_.calls.push_back("click"); };
    tray.OnDblClick = [this] { desktop_.calls.push_back("dblclick"); };
  }

  QueueMainThread main_;
  FakeDesktop desktop_;
};

TEST_F(TrayIconTest, TooltipIsCutAt127BytesBetweenCharactersAndEmptyWithoutShowHint) {
  TTrayIcon tray(desktop_, desktop_, &desktop_);
  tray.SetHint(std::string(200, 'a'));
  EXPECT_EQ(desktop_.last_tooltip, std::string(127, 'a'));
  // 126 ASCII bytes then a GBK character: the character does not fit whole, so it is dropped.
  tray.SetHint(std::string(126, 'a') + "\xD4\xC6\xB2\xA5");
  EXPECT_EQ(desktop_.last_tooltip, std::string(126, 'a'));
  tray.SetShowHint(false);
  EXPECT_EQ(desktop_.last_tooltip, "");
  EXPECT_EQ(tray.Hint().size(), 130u);
}

TEST_F(TrayIconTest, MouseActionsMapToEventsInOrder) {
  TTrayIcon tray(desktop_, desktop_, &desktop_);
  RecordMouse(tray);
  tray.HandleMouse(TrayMouseAction::LeftUp);  // no click without a down on the icon first
  tray.HandleMouse(TrayMouseAction::LeftDown);
  tray.HandleMouse(TrayMouseAction::LeftUp);
  tray.HandleMouse(TrayMouseAction::RightDown);
  tray.HandleMouse(TrayMouseAction::RightUp);
  tray.HandleMouse(TrayMouseAction::LeftDoubleClick);
  EXPECT_EQ(desktop_.calls,
            (std::vector<std::string>{"up 0 " + std::to_string(ssCtrl | ssLeft),
                                      "down 0 " + std::to_string(ssCtrl | ssLeft) + " 10,20",
                                      "click", "up 0 " + std::to_string(ssCtrl | ssLeft),
                                      "down 1 " + std::to_string(ssCtrl | ssRight) + " 10,20",
                                      "popup 10,20", "up 1 " + std::to_string(ssCtrl | ssRight),
                                      "dblclick", "default item"}));

  desktop_.calls.clear();
  tray.SetLeftPopup(true);
  tray.HandleMouse(TrayMouseAction::LeftDown);
  tray.HandleMouse(TrayMouseAction::LeftDoubleClick);
  EXPECT_EQ(desktop_.calls[1], "popup 10,20");
  EXPECT_EQ(desktop_.calls.back(), "dblclick");  // no default item with LeftPopup

  desktop_.calls.clear();
  tray.SetEnabled(false);
  tray.HandleMouse(TrayMouseAction::LeftDown);
  tray.HandleMouse(TrayMouseAction::LeftUp);
  EXPECT_TRUE(desktop_.calls.empty());
}

TEST_F(TrayIconTest, RightClickWithoutMenuRaisesOnlyMouseEvents) {
  TTrayIcon tray(desktop_, desktop_, nullptr);
  RecordMouse(tray);
  tray.HandleMouse(TrayMouseAction::RightDown);
  tray.HandleMouse(TrayMouseAction::RightUp);
  tray.HandleMouse(TrayMouseAction::LeftDoubleClick);
  ASSERT_EQ(desktop_.calls.size(), 3u);
  EXPECT_EQ(desktop_.calls[2], "dblclick");
}

TEST_F(TrayIconTest, IconIndexClampsToTheListAndCyclingWalksItInOrder) {
  TTrayIcon tray(desktop_, desktop_, &desktop_);
  std::vector<TIcon> images{std::make_shared<FakeImage>(0), std::make_shared<FakeImage>(1),
                            std::make_shared<FakeImage>(2)};
  tray.SetIconIndex(2);
  EXPECT_EQ(tray.IconIndex(), 0);  // no list
  tray.SetIconList(images);
  tray.SetIconIndex(5);
  EXPECT_EQ(tray.IconIndex(), 2);
  EXPECT_EQ(Number(tray.Icon()), 2);
  tray.SetIconList(std::vector<TIcon>{});
  tray.SetIconIndex(1);
  EXPECT_EQ(tray.IconIndex(), 0);

  tray.SetIconList(images);
  std::vector<int> next, shown;
  tray.OnCycle = [&](int n) {
    next.push_back(n);
    shown.push_back(Number(tray.Icon()));
  };
  tray.SetCycleInterval(1);
  tray.SetCycleIcons(true);
  ASSERT_TRUE(main_.PumpUntil([&] { return next.size() >= 5; }, 10s));
  EXPECT_EQ(std::vector<int>(next.begin(), next.begin() + 5), (std::vector<int>{1, 2, 0, 1, 2}));
  EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 5), (std::vector<int>{0, 1, 2, 0, 1}));
  tray.SetCycleIcons(false);
  size_t stopped_at = next.size();
  main_.PumpUntil([] { return false; }, 20ms);
  EXPECT_EQ(next.size(), stopped_at);
}

TEST_F(TrayIconTest, AreaRestartReaddsOnlyAVisibleIcon) {
  TTrayIcon tray(desktop_, desktop_, &desktop_);
  tray.Loaded();
  EXPECT_EQ(desktop_.calls, (std::vector<std::string>{"add -1 "}));
  tray.HandleAreaRestarted();
  EXPECT_EQ(desktop_.calls.size(), 2u);
  tray.SetIconVisible(false);
  tray.HandleAreaRestarted();
  EXPECT_EQ(desktop_.calls.back(), "delete");
}

TEST_F(TrayIconTest, MinimiseHidesToTrayOnlyWhenAskedAndWhenTheAreaExists) {
  TTrayIcon tray(desktop_, desktop_, &desktop_);
  tray.HandleApplicationMinimized();  // MinimizeToTray off: nothing hides
  EXPECT_TRUE(desktop_.calls.empty());

  tray.SetMinimizeToTray(true);
  desktop_.available = false;
  tray.HandleApplicationMinimized();  // no area: the window must stay reachable
  EXPECT_TRUE(desktop_.calls.empty());

  desktop_.available = true;
  tray.HandleApplicationMinimized();
  EXPECT_EQ(desktop_.calls,
            (std::vector<std::string>{"hide form", "hide app", "watch", "add -1 "}));
  desktop_.calls.clear();
  tray.HandleFormShown();
  EXPECT_EQ(desktop_.calls, (std::vector<std::string>{"unwatch", "restore app"}));
}

TEST_F(TrayIconTest, AreaGoingAwayBringsBackOnlyAWindowHiddenInIt) {
  TTrayIcon tray(desktop_, desktop_, &desktop_);
  tray.SetMinimizeToTray(true);
  tray.Loaded();
  tray.HandleAreaGone();  // the window is on screen: it stays as it is
  tray.HandleApplicationMinimized();
  tray.HandleFormShown();
  tray.HandleAreaGone();  // shown again from the tray
  desktop_.calls.clear();

  tray.HandleApplicationMinimized();
  desktop_.available = false;
  tray.HandleAreaGone();
  tray.HandleAreaGone();  // reported once more: the window is out already
  EXPECT_EQ(desktop_.calls, (std::vector<std::string>{"hide form", "hide app", "watch", "add -1 ",
                                                      "unwatch", "show minimised"}));

  // Minimised while the area is still gone: it stays in the taskbar. Once an area is back, the
  // next minimise hides to it and watches it again.
  desktop_.calls.clear();
  tray.HandleApplicationMinimized();
  EXPECT_TRUE(desktop_.calls.empty());
  desktop_.available = true;
  tray.HandleApplicationMinimized();
  EXPECT_EQ(desktop_.calls,
            (std::vector<std::string>{"hide form", "hide app", "watch", "add -1 "}));
}

TEST_F(TrayIconTest, DestroyingTheIconStopsWatchingTheArea) {
  {
    TTrayIcon tray(desktop_, desktop_, &desktop_);
    tray.SetMinimizeToTray(true);
    tray.HandleApplicationMinimized();
    desktop_.calls.clear();
  }
  EXPECT_EQ(desktop_.calls, (std::vector<std::string>{"unwatch", "delete"}));
}

TEST_F(TrayIconTest, StartMinimizedHidesTheApplicationWhenLoadedOrMinimisesItWithoutAnArea) {
  for (bool available : {true, false}) {
    SCOPED_TRACE(available);
    desktop_.calls.clear();
    desktop_.available = available;
    TTrayIcon tray(desktop_, desktop_, &desktop_);
    tray.SetStartMinimized(true);
    tray.Loaded();
    EXPECT_EQ(desktop_.calls,
              available ? (std::vector<std::string>{"hide form", "hide app", "watch", "add -1 "})
                        : (std::vector<std::string>{"show minimised", "add -1 "}));
  }
}

}  // namespace
}  // namespace djkivo
