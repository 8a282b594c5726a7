// The tray icon in a real X session: an X server of the test's own (Xvfb) with a window manager
// (openbox) and a real XEmbed notification area (trayer) on it, the window on Qt's X11 platform,
// and real clicks and window manager requests sent through the X server (xdotool). No session
// bus, so Qt docks the icon by XEmbed.
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStyleHints>
#include <QSystemTrayIcon>

#include <gmock/gmock.h>

#include "app/tray_area.h"
#include "tests/app/window_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/run_process.h"
#include "tests/support/virtual_display.h"

namespace djkivo::app {
namespace {

// Bounds for a loaded machine: X tools answer in milliseconds, a tray docks in well under a
// second.
constexpr auto kToolLimit = 10s;
constexpr auto kXWait = 10s;
constexpr auto kWmStartLimit = 30s;
// A window hidden in a tray that goes away is back a check interval after Qt sees it gone.
constexpr auto kAreaGoneLimit =
    kXWait + std::chrono::milliseconds(QtTrayDesktop::kAreaCheckInterval);

/// The X server of the whole test program: Qt connects to it once, when the program's
/// application is made, and keeps that connection to the end.
struct Session {
  std::string unavailable;  // why the tests cannot run here (a tool is missing); empty if they can
  std::string broken;       // why the session could not be started; empty when it was
  std::unique_ptr<test::VirtualDisplay> xvfb;
  test::TempFolder folder;  // the session's own settings, and a bus address nothing listens on
};
Session* session = nullptr;

class TraySessionTest : public WindowTest {
 protected:
  static void SetUpTestSuite() {
    session = new Session;
    for (const char* program : {"Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop"}) {
      if (!test::FindProgram(program))
        session->unavailable += std::string(session->unavailable.empty() ? "" : ", ") + program;
    }
    if (!session->unavailable.empty()) {
      session->unavailable = "not installed: " + session->unavailable;
      return;
    }
    // Started while the program has one thread, before Qt starts its own.
    session->xvfb = std::make_unique<test::VirtualDisplay>();
    if (session->xvfb->Display().empty()) {
      session->broken = "Xvfb did not start";
      return;
    }
    // The window manager and Qt read the system's settings, not the user's.
    setenv("XDG_CONFIG_HOME", session->folder.Path().c_str(), 1);
    session->broken = session->xvfb->StartWindowManager(kWmStartLimit);
    if (!session->broken.empty())
      return;
    // A desktop with a StatusNotifierItem watcher on its session bus gets the icon over the
    // bus instead of by XEmbed: give Qt a bus address where nothing answers.
    const std::string no_bus = "unix:path=" + (session->folder.Path() / "no-bus").string();
    setenv("DBUS_SESSION_BUS_ADDRESS", no_bus.c_str(), 1);
    WindowTest::SetUpTestSuite();
  }

  static void TearDownTestSuite() {
    // The application keeps its dead connection; nothing runs its events after this.
    delete session;
    session = nullptr;
  }

  void SetUp() override {
    if (!session->unavailable.empty())
      GTEST_SKIP() << session->unavailable;
    ASSERT_TRUE(session->broken.empty()) << session->broken;
    WindowTest::SetUp();
  }

  void TearDown() override {
    if (main_thread_)
      WindowTest::TearDown();
    tray_.reset();
  }

  /// Runs an X tool on the test's display. A query about a window that has just gone fails;
  /// callers that wait for something take that as "not yet".
  static test::ProcessResult XTool(std::vector<std::string> argv) {
    argv[0] = test::FindProgram(argv[0]).value_or(argv[0]);
    return test::RunProcess(argv, kToolLimit);
  }

  static std::string Hex(WId window) {
    std::ostringstream out;
    out << "0x" << std::hex << window;
    return out.str();
  }

  /// What xwininfo prints about `window` (with `option`), by label.
  static std::map<std::string, std::string> WindowInfo(WId window,
                                                       const std::string& option = "-stats") {
    std::map<std::string, std::string> info;
    std::istringstream lines(XTool({"xwininfo", option, "-id", Hex(window)}).out);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t colon = line.find(": ");
      const std::size_t start = line.find_first_not_of(' ');
      if (colon != std::string::npos && start < colon)
        info[line.substr(start, colon - start)] =
            line.substr(line.find_first_not_of(' ', colon + 1));
    }
    return info;
  }

  /// A property of the root window as xprop prints it.
  static std::string RootProperty(const std::string& name) {
    return XTool({"xprop", "-root", name}).out;
  }

  /// Whether the window manager lists `window` among its windows, as taskbars show them.
  static bool InTaskbar(WId window) {
    std::istringstream list(RootProperty("_NET_CLIENT_LIST"));
    for (std::string token; list >> token;) {
      if (token.rfind("0x", 0) == 0 && ParseWindow(token) == window)
        return true;
    }
    return false;
  }

  static WId ParseWindow(const std::string& text) {
    return static_cast<WId>(std::strtoul(text.c_str(), nullptr, 0));
  }

  /// "IsViewable" for a shown window, "IsUnMapped" for a hidden one (which no window manager
  /// or taskbar lists).
  static std::string MapState(WId window) { return WindowInfo(window)["Map State"]; }

  /// Where the X server has the icon's window, in screen coordinates.
  static QRect IconRect() {
    std::map<std::string, std::string> info = WindowInfo(IconWindow());
    return QRect(std::atoi(info["Absolute upper-left X"].c_str()),
                 std::atoi(info["Absolute upper-left Y"].c_str()), std::atoi(info["Width"].c_str()),
                 std::atoi(info["Height"].c_str()));
  }

  /// Starts a notification area on the display and waits until Qt sees it.
  void StartTray() {
    tray_ = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{"trayer", "--edge", "top", "--align", "right", "--widthtype",
                                 "pixel", "--width", "200", "--height", "32"});
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kXWait))
        << "trayer did not take the notification area";
  }

  /// Ends the notification area and waits until Qt sees it gone.
  void StopTray() {
    tray_->Stop();
    ASSERT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, kXWait));
  }

  /// The small window of Qt's own that shows a docked icon; 0 while there is none.
  static WId IconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->inherits("QSystemTrayIconSys") && widget->testAttribute(Qt::WA_WState_Created))
        return widget->winId();
    }
    return 0;
  }

  /// Whether the icon's window sits inside a window of the running tray.
  bool Docked() {
    const WId icon = IconWindow();
    if (icon == 0 || !tray_ || tray_->Pid() <= 0)
      return false;
    std::set<WId> tray_windows;
    std::istringstream ids(XTool({"xdotool", "search", "--pid", std::to_string(tray_->Pid())}).out);
    for (std::string id; std::getline(ids, id);)
      tray_windows.insert(ParseWindow(id));
    const WId root = ParseWindow(WindowInfo(icon, "-tree")["Root window id"]);
    WId window = icon;
    for (int depth = 0; window != 0 && window != root && depth < 16; ++depth) {
      if (tray_windows.count(window) != 0)
        return true;
      window = ParseWindow(WindowInfo(window, "-tree")["Parent window id"]);
    }
    return false;
  }

  /// Moves the pointer to `at` (screen coordinates) and clicks `button` there. Qt takes a press
  /// soon after the one before at the same place for a double click, even on another window (the
  /// icon of an earlier test): clicks are paced as a user's are, a double-click time apart.
  static void ClickAt(QPoint at, int button) {
    static QElapsedTimer since_last_click;
    const int pace = QGuiApplication::styleHints()->mouseDoubleClickInterval() + 100;
    if (since_last_click.isValid())
      ProcessEventsUntil([&] { return since_last_click.elapsed() >= pace; }, kXWait);
    const test::ProcessResult result =
        XTool({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()), "click",
               std::to_string(button)});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    since_last_click.start();
  }

  /// Clicks `button` on the docked icon, where the X server has it.
  static void ClickIcon(int button) {
    const QRect icon = IconRect();
    ASSERT_FALSE(icon.isEmpty());
    ClickAt(icon.center(), button);
  }

  /// Minimises the window as its title bar button does: a request to the window manager.
  static void Minimise(TForm1& form) {
    const test::ProcessResult result =
        XTool({"xdotool", "windowminimize", std::to_string(form.winId())});
    ASSERT_EQ(result.exit_code, 0) << result.err;
  }

  /// Minimises the window and waits until it is hidden in the tray: unmapped and gone from the
  /// window manager's list.
  void MinimiseToTray(TForm1& form) {
    ASSERT_NO_FATAL_FAILURE(Minimise(form));
    ASSERT_TRUE(WaitFor([&] { return form.isHidden(); }, kXWait));
    ASSERT_TRUE(
        WaitFor([&] { return MapState(form.winId()) == "IsUnMapped" && !InTaskbar(form.winId()); },
                kXWait));
  }

  /// Waits until the window is back: shown, listed by the window manager and active. Qt asks
  /// the window manager to activate it once it learns the window is mapped; a minimise sent
  /// before that request would be undone by it, so the wait ends only after it.
  void ExpectShown(TForm1& form) {
    ASSERT_TRUE(WaitFor(
        [&] { return form.isVisible() && !form.isMinimized() && form.isActiveWindow(); }, kXWait));
    EXPECT_TRUE(WaitFor(
        [&] { return MapState(form.winId()) == "IsViewable" && InTaskbar(form.winId()); }, kXWait));
  }

  std::unique_ptr<test::ChildProcess> tray_;
};

std::vector<std::string> MenuEntries(const QMenu& menu) {
  std::vector<std::string> entries;
  for (const QAction* action : menu.actions())
    entries.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  return entries;
}

TEST_F(TraySessionTest, IconDocksAndClicksOnItBringTheWindowBack) {
  ASSERT_NO_FATAL_FAILURE(StartTray());
  TForm1& form = MakeForm();
  ASSERT_TRUE(WaitFor([&] { return Docked(); }, kXWait)) << "the icon did not dock";
  EXPECT_FALSE(IconRect().isEmpty());

  ASSERT_NO_FATAL_FAILURE(MinimiseToTray(form));
  ASSERT_NO_FATAL_FAILURE(ClickIcon(1));
  ASSERT_NO_FATAL_FAILURE(ExpectShown(form));

  // A right click pops up the tray menu at the icon, once (it is the icon's own menu, which
  // the tray window shows itself); its first entry brings the window back.
  ASSERT_NO_FATAL_FAILURE(MinimiseToTray(form));
  QMenu& menu = *form.SkinPopupMenu1;
  EXPECT_EQ(form.TrayDesktop1->Icon().contextMenu(), &menu);
  int popups = 0;
  QObject::connect(&menu, &QMenu::aboutToShow, [&] { ++popups; });
  ASSERT_NO_FATAL_FAILURE(ClickIcon(3));
  ASSERT_TRUE(WaitFor([&] { return menu.isVisible(); }, kXWait));
  ProcessEventsUntil([] { return false; }, 300ms);
  EXPECT_EQ(popups, 1);
  EXPECT_THAT(MenuEntries(menu), testing::ElementsAre("打开主界面", "-", "上一首", "下一首", "-",
                                                      "播放/暂停", "-", "退出"));
  // The screen as the user sees it, for a look: build/tray-xembed-menu.png.
  QGuiApplication::primaryScreen()->grabWindow(0).save(DJKIVO_BINARY_DIR "/tray-xembed-menu.png");
  ClickAt(menu.mapToGlobal(menu.actionGeometry(form.N11).center()), 1);
  ASSERT_NO_FATAL_FAILURE(ExpectShown(form));
  EXPECT_FALSE(menu.isVisible());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(TraySessionTest, AWindowHiddenInATrayThatGoesAwayComesBackToTheTaskbar) {
  ASSERT_NO_FATAL_FAILURE(StartTray());
  TForm1& form = MakeForm();
  ASSERT_TRUE(WaitFor([&] { return Docked(); }, kXWait));
  ASSERT_NO_FATAL_FAILURE(MinimiseToTray(form));
  ASSERT_NO_FATAL_FAILURE(StopTray());
  // Back as a minimised window: listed by the window manager, iconified.
  ASSERT_TRUE(WaitFor([&] { return form.isVisible() && form.isMinimized(); }, kAreaGoneLimit));
  EXPECT_TRUE(WaitFor(
      [&] {
        return InTaskbar(form.winId()) &&
               XTool({"xprop", "-id", Hex(form.winId()), "WM_STATE"}).out.find("Iconic") !=
                   std::string::npos;
      },
      kXWait));
  EXPECT_TRUE(form.isMinimized());  // nothing restored it on the way
  EXPECT_EQ(XTool({"xdotool", "windowactivate", std::to_string(form.winId())}).exit_code, 0);
  ASSERT_NO_FATAL_FAILURE(ExpectShown(form));

  // A new tray takes the icon again, and minimising hides to it.
  ASSERT_NO_FATAL_FAILURE(StartTray());
  ASSERT_TRUE(WaitFor([&] { return Docked(); }, kXWait)) << "the icon did not dock again";
  ASSERT_NO_FATAL_FAILURE(MinimiseToTray(form));
  ASSERT_NO_FATAL_FAILURE(ClickIcon(1));
  ASSERT_NO_FATAL_FAILURE(ExpectShown(form));
}

TEST_F(TraySessionTest, WithoutATrayMinimisingKeepsTheWindowUntilATrayStarts) {
  TForm1& form = MakeForm();
  EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  ASSERT_NO_FATAL_FAILURE(Minimise(form));
  ASSERT_TRUE(WaitFor([&] { return form.isMinimized(); }, kXWait));
  // The hiding is queued behind the state change: once a later call has run, it has too.
  bool settled = false;
  QMetaObject::invokeMethod(
      form_.get(), [&] { settled = true; }, Qt::QueuedConnection);
  ASSERT_TRUE(WaitFor([&] { return settled; }, kXWait));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(MapState(form.winId()), "IsUnMapped");
  EXPECT_TRUE(InTaskbar(form.winId()));
  // Its taskbar entry brings it back: a request to the window manager to activate it.
  EXPECT_EQ(XTool({"xdotool", "windowactivate", std::to_string(form.winId())}).exit_code, 0);
  ASSERT_NO_FATAL_FAILURE(ExpectShown(form));

  // A tray that starts later takes the icon, and minimising hides to it from then on.
  ASSERT_NO_FATAL_FAILURE(StartTray());
  ASSERT_TRUE(WaitFor([&] { return Docked(); }, kXWait));
  ASSERT_NO_FATAL_FAILURE(MinimiseToTray(form));
  ASSERT_NO_FATAL_FAILURE(ClickIcon(1));
  ASSERT_NO_FATAL_FAILURE(ExpectShown(form));
}

}  // namespace
}  // namespace djkivo::app
