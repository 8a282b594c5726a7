// The single-instance guard: on a private session bus, and on local sockets where there is no
// bus. Each later start is a guard of its own, on a connection of its own, as a second process
// would be; the first answers on the test's event loop.
#include "app/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <QDBusConnection>

#include <gtest/gtest.h>

#include "tests/app/bus_stub.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;
using Claim = SingleInstance::Claim;

class SingleInstanceTest : public PrivateBusTest {
 protected:
  /// A later start's own connection to the session bus.
  QDBusConnection LaterStart() {
    return QDBusConnection::connectToBus(QString::fromStdString(bus_->Address()),
                                         QStringLiteral("start%1").arg(++starts_));
  }
  /// A connection for a desktop without a session bus.
  static QDBusConnection NoBus() {
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                         QStringLiteral("no-bus"));
  }

  /// The first player, counting how often it is asked to show itself.
  std::unique_ptr<SingleInstance> First(const std::string& list, QDBusConnection bus,
                                        const QString& folder = QString()) {
    auto first = std::make_unique<SingleInstance>(list, false, bus, folder);
    first->on_raise = [this] { ++raised_; };
    EXPECT_EQ(first->TryClaim(), Claim::kFirst);
    return first;
  }

  int starts_ = 0;
  int raised_ = 0;
};

TEST_F(SingleInstanceTest, OnTheBusASecondStartRaisesTheFirst) {
  std::unique_ptr<SingleInstance> first =
      First("/home/u/a/mylist.txt", QDBusConnection::sessionBus());
  EXPECT_TRUE(first->OnBus());
  const struct {
    const char* list;
    bool new_instance;
    Claim claim;
  } starts[] = {
      {"/home/u/a/mylist.txt", false, Claim::kRaisedRunning},
      {"/home/u/a/../a/mylist.txt", true, Claim::kRaisedRunning},  // the same file
      {"/home/u/b/mylist.txt", false, Claim::kRaisedRunning},      // one player, not two
      {"/home/u/b/mylist.txt", true, Claim::kFirst},               // another list may run
  };
  int expected_raises = 0;
  std::vector<std::unique_ptr<SingleInstance>> running;
  for (const auto& start : starts) {
    SCOPED_TRACE(testing::Message() << start.list << (start.new_instance ? " --new-instance" : ""));
    auto later = std::make_unique<SingleInstance>(start.list, start.new_instance, LaterStart());
    EXPECT_EQ(later->TryClaim(), start.claim);
    if (start.claim == Claim::kRaisedRunning)
      ++expected_raises;
    EXPECT_EQ(raised_, expected_raises);
    if (start.claim == Claim::kFirst)
      running.push_back(std::move(later));
  }
  // The second list's player is reached as well, by a start on its list.
  SingleInstance on_b("/home/u/b/mylist.txt", true, LaterStart());
  int raised_b = 0;
  running[0]->on_raise = [&] { ++raised_b; };
  EXPECT_EQ(on_b.TryClaim(), Claim::kRaisedRunning);
  EXPECT_EQ(raised_b, 1);

  // Once the first has ended, a start on its list is the first again.
  first.reset();
  SingleInstance again("/home/u/a/mylist.txt", false, LaterStart());
  EXPECT_EQ(again.TryClaim(), Claim::kFirst);
}

TEST_F(SingleInstanceTest, APlayerThatDoesNotAnswerEndsTheStartWithoutHanging) {
  // Something holds the program's name but does not answer as the player does.
  BusStub stuck(bus_->Address(), QString::fromLatin1(kProgramName), QStringLiteral("/unused"));
  ASSERT_TRUE(stuck.Registered());
  SingleInstance later("/home/u/a/mylist.txt", false, LaterStart());
  EXPECT_EQ(later.TryClaim(), Claim::kNoAnswer);
}

TEST_F(SingleInstanceTest, WithoutABusLocalSocketsGuardTheSession) {
  // One display session, whose name is part of each socket's.
  qputenv("WAYLAND_DISPLAY", "");
  qputenv("DISPLAY", "d1");
  test::TempFolder runtime;
  const QString folder = QString::fromStdString(runtime.Path().string());
  std::unique_ptr<SingleInstance> first = First("/home/u/a/mylist.txt", NoBus(), folder);
  EXPECT_FALSE(first->OnBus());

  SingleInstance second("/home/u/a/mylist.txt", false, NoBus(), folder);
  EXPECT_EQ(second.TryClaim(), Claim::kRaisedRunning);
  ASSERT_TRUE(ProcessEventsUntil([&] { return raised_ == 1; }, 30s));
  SingleInstance other_list("/home/u/b/mylist.txt", true, NoBus(), folder);
  EXPECT_EQ(other_list.TryClaim(), Claim::kFirst);

  // A player that crashed left its socket behind; the next start takes it over.
  first.reset();
  const std::string stale = (runtime.Path() / (std::string(kProgramName) + "-d1")).string();
  ASSERT_FALSE(std::filesystem::exists(stale)) << "a player that ends removes its socket";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << stale;
  ::close(fd);  // bound, never listened on, never removed
  std::unique_ptr<SingleInstance> next = First("/home/u/a/mylist.txt", NoBus(), folder);
  SingleInstance after("/home/u/a/mylist.txt", false, NoBus(), folder);
  EXPECT_EQ(after.TryClaim(), Claim::kRaisedRunning);
}

}  // namespace
}  // namespace djkivo::app
