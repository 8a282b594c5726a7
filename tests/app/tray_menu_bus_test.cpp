// The tray icon as a StatusNotifierItem host sees it (KDE Plasma, GNOME's AppIndicator
// extension, XFCE's and LXQt's panels, Wayland desktops): the test plays the host's
// StatusNotifierWatcher on a private session bus, takes the item's registration, reads its
// properties and its menu over com.canonical.dbusmenu, and clicks each entry as a panel does.
// The window runs on Qt's X11 platform (an Xvfb of the test's own), whose theme offers the
// icon on the bus when a watcher with a host is there at start.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gmock/gmock.h>

#include "tests/app/bus_stub.h"
#include "tests/app/window_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/private_bus.h"
#include "tests/support/virtual_display.h"

namespace djkivo::app {
namespace {

constexpr auto kXWait = 10s;
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// What Qt reads of a watcher before it offers an icon on the bus.
const QString kWatcherIntrospection = QStringLiteral(R"(
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
  </interface>)");

/// The session of the whole test program: its X server, its bus and the watcher on it, all
/// there before the program's application is made.
struct Session {
  std::string broken;  // why it could not be started; empty when it was
  std::unique_ptr<test::VirtualDisplay> xvfb;
  std::unique_ptr<test::PrivateBus> bus;
  std::unique_ptr<BusStub> watcher;
};
Session* session = nullptr;

/// One entry of a dbusmenu layout.
struct MenuEntry {
  int id = 0;
  QVariantMap properties;
  std::vector<MenuEntry> children;
};

MenuEntry ReadEntry(const QDBusArgument& argument) {
  MenuEntry entry;
  argument.beginStructure();
  argument >> entry.id >> entry.properties;
  argument.beginArray();
  while (!argument.atEnd()) {
    QDBusVariant child;
    argument >> child;
    entry.children.push_back(ReadEntry(child.variant().value<QDBusArgument>()));
  }
  argument.endArray();
  argument.endStructure();
  return entry;
}

/// Reads an icon's pixmaps, a(iiay) of width, height and ARGB bytes, and returns the largest
/// width; each pixmap's bytes must fill its size.
int LargestPixmap(const QDBusArgument& pixmaps) {
  int largest = 0;
  pixmaps.beginArray();
  while (!pixmaps.atEnd()) {
    int width = 0;
    int height = 0;
    QByteArray argb;
    pixmaps.beginStructure();
    pixmaps >> width >> height >> argb;
    pixmaps.endStructure();
    EXPECT_EQ(argb.size(), width * height * 4);
    largest = std::max(largest, width);
  }
  pixmaps.endArray();
  return largest;
}

// "-" for a separator, else the label.
std::string Caption(const MenuEntry& entry) {
  if (entry.properties.value(QStringLiteral("type")).toString() == QStringLiteral("separator"))
    return "-";
  return entry.properties.value(QStringLiteral("label")).toString().toStdString();
}

class TrayMenuBusTest : public WindowTest {
 protected:
  static void SetUpTestSuite() {
    session = new Session;
    session->xvfb = std::make_unique<test::VirtualDisplay>();
    if (session->xvfb->Display().empty()) {
      session->broken = "Xvfb did not start";
      return;
    }
    session->bus = std::make_unique<test::PrivateBus>();
    if (session->bus->Address().empty()) {
      session->broken = "dbus-daemon did not start";
      return;
    }
    session->watcher = std::make_unique<BusStub>(session->bus->Address(), kWatcher,
                                                 QStringLiteral("/StatusNotifierWatcher"));
    BusStub& watcher = *session->watcher;
    watcher.SetIntrospection(kWatcherIntrospection);
    watcher.On(QStringLiteral("RegisterStatusNotifierItem"),
               [](const QDBusMessage& call) { return call.createReply(); });
    watcher.On(QStringLiteral("Get"), [](const QDBusMessage& call) {
      const QString name = call.arguments().value(1).toString();
      if (name == QStringLiteral("IsStatusNotifierHostRegistered"))
        return call.createReply(QVariant::fromValue(QDBusVariant(true)));
      if (name == QStringLiteral("ProtocolVersion"))
        return call.createReply(QVariant::fromValue(QDBusVariant(0)));
      return call.createErrorReply(QDBusError::InvalidArgs, name);
    });
    WindowTest::SetUpTestSuite();
  }

  static void TearDownTestSuite() {
    delete session;
    session = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(session->broken.empty()) << session->broken;
    WindowTest::SetUp();
  }

  /// The panel's own connection to the bus.
  static QDBusConnection Panel() {
    return QDBusConnection::connectToBus(QString::fromStdString(session->bus->Address()),
                                         QStringLiteral("panel"));
  }

  /// Calls the item as the panel and waits for the answer, running the window's events.
  QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                    const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(item_, path, interface, method);
    message.setArguments(args);
    QDBusPendingCall call = Panel().asyncCall(message, 30000);
    EXPECT_TRUE(WaitFor([&] { return call.isFinished(); }));
    EXPECT_EQ(call.reply().type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << call.reply().errorMessage().toStdString();
    return call.reply();
  }

  QVariant ItemProperty(const QString& name) {
    return Call(QStringLiteral("/StatusNotifierItem"), kProperties, QStringLiteral("Get"),
                {kItemInterface, name})
        .arguments()
        .value(0)
        .value<QDBusVariant>()
        .variant();
  }

  /// The window, with its icon registered with the watcher; `item_` is then its bus name.
  TForm1& MakeFormOnTheBus() {
    TForm1& form = MakeForm();
    EXPECT_TRUE(WaitFor(
        [] {
          return !session->watcher->Calls(QStringLiteral("RegisterStatusNotifierItem")).empty();
        },
        kXWait))
        << "the icon was not offered on the bus";
    item_ = session->watcher->Calls(QStringLiteral("RegisterStatusNotifierItem"))
                .back()
                .arguments()
                .value(0)
                .toString();
    return form;
  }

  QString item_;
};

TEST_F(TrayMenuBusTest, APanelReadsTheIconAndItsMenuAndEveryEntryWorks) {
  WritePlayList(PlayListOfDemoSongs(3));
  TForm1& form = MakeFormOnTheBus();
  ASSERT_FALSE(item_.isEmpty());

  // The icon's picture and tooltip, as the panel draws them.
  EXPECT_GE(LargestPixmap(ItemProperty(QStringLiteral("IconPixmap")).value<QDBusArgument>()), 22);
  const QDBusArgument tooltip = ItemProperty(QStringLiteral("ToolTip")).value<QDBusArgument>();
  QString icon_name;
  QString title;
  QString text;
  tooltip.beginStructure();
  tooltip >> icon_name;
  LargestPixmap(tooltip);
  tooltip >> title >> text;
  tooltip.endStructure();
  EXPECT_EQ(title, QStringLiteral("DJKivo云播放"));

  // The menu, from the path the item names.
  const QString menu_path =
      qdbus_cast<QDBusObjectPath>(ItemProperty(QStringLiteral("Menu"))).path();
  ASSERT_FALSE(menu_path.isEmpty());
  EXPECT_FALSE(ItemProperty(QStringLiteral("ItemIsMenu")).toBool());  // a click is a click
  Call(menu_path, kMenuInterface, QStringLiteral("AboutToShow"), {0});
  const QDBusMessage layout =
      Call(menu_path, kMenuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
  const MenuEntry root = ReadEntry(layout.arguments().value(1).value<QDBusArgument>());
  std::vector<std::string> captions;
  std::map<std::string, int> ids;
  for (const MenuEntry& entry : root.children) {
    captions.push_back(Caption(entry));
    ids[Caption(entry)] = entry.id;
  }
  EXPECT_THAT(captions, testing::ElementsAre("打开主界面", "-", "上一首", "下一首", "-",
                                             "播放/暂停", "-", "退出"));

  // Each entry clicked as the panel clicks it.
  auto click = [&](const std::string& caption) {
    Call(menu_path, kMenuInterface, QStringLiteral("Event"),
         {ids.at(caption), QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
  };
  click("播放/暂停");
  ASSERT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPlaying; }));
  EXPECT_EQ(form.CurrentIndex(), 0);
  click("下一首");
  ASSERT_TRUE(WaitFor([&] { return form.CurrentIndex() == 1; }));
  click("上一首");
  ASSERT_TRUE(WaitFor([&] { return form.CurrentIndex() == 0; }));
  click("播放/暂停");
  ASSERT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPaused; }));
  form.hide();
  click("打开主界面");
  ASSERT_TRUE(WaitFor([&] { return form.isVisible(); }));
  // A left click on the icon is its click: it shows the window too.
  form.hide();
  Call(QStringLiteral("/StatusNotifierItem"), kItemInterface, QStringLiteral("Activate"), {0, 0});
  ASSERT_TRUE(WaitFor([&] { return form.isVisible(); }));
  click("播放/暂停");
  ASSERT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPlaying; }));
  click("退出");
  ASSERT_TRUE(WaitFor([&] { return !form.isVisible(); }));
  EXPECT_NE(form.SoundOut1->Status(), kPlaying);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace djkivo::app
