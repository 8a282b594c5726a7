// The window program in a desktop session (a private session bus): a second start of the real
// program raises the running player and ends, and --new-instance starts a second player on
// another play list only. The running player is the test's window with the guard wired as
// main() wires it.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QProcessEnvironment>

#include "app/single_instance.h"
#include "tests/app/bus_stub.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

class MainSessionTest : public OnPrivateBus<WindowTest> {
 protected:
  /// Starts the program as a user would, on the test's bus, with `args`.
  void Start(QProcess& program, const QStringList& args) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QString::fromStdString(bus_->Address()));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString((folder_.Path() / "config").string()));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(
        QStringLiteral(DJKIVO_WINDOW_PATH),
        QStringList{QStringLiteral("--catalogue-host"), QString::fromStdString(site_->HostPort()),
                    QStringLiteral("--device"), QStringLiteral("null")} +
            args);
    ASSERT_TRUE(program.waitForStarted(30000));
  }

  /// Starts the program and waits for its end: its exit status, -1 if it did not end.
  int RunToEnd(const QStringList& args) {
    QProcess program;
    Start(program, args);
    if (!WaitFor([&] { return program.state() == QProcess::NotRunning; }))
      return -1;
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  }

  QString Path(const char* name) const {
    return QString::fromStdString((folder_.Path() / name).string());
  }
};

TEST_F(MainSessionTest, ASecondStartRaisesTheRunningPlayerAndEnds) {
  TForm1& form = MakeForm();
  SingleInstance instance(PlayListPath(), false);
  ASSERT_EQ(instance.TryClaim(), SingleInstance::Claim::kFirst);
  instance.on_raise = [&form] { form.N11Click(); };

  const struct {
    const char* name;
    QStringList args;
  } raising[] = {
      {"the same play list",
       {QStringLiteral("--playlist"), QString::fromStdString(PlayListPath())}},
      {"another play list", {QStringLiteral("--playlist"), Path("other.txt")}},
      {"--new-instance on the same list",
       {QStringLiteral("--new-instance"), QStringLiteral("--playlist"),
        QString::fromStdString(PlayListPath())}},
  };
  for (const auto& start : raising) {
    SCOPED_TRACE(start.name);
    form.hide();  // in the tray
    EXPECT_EQ(RunToEnd(start.args), 0);
    EXPECT_TRUE(WaitFor([&] { return form.isVisible(); }));
  }

  // Another list with --new-instance is a second player, holding its list's name.
  QProcess second;
  Start(second,
        {QStringLiteral("--new-instance"), QStringLiteral("--playlist"), Path("other.txt")});
  const QString other = SingleInstance::PlayListName(Path("other.txt").toStdString());
  EXPECT_TRUE(WaitFor([&] {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(other).value() ||
           second.state() == QProcess::NotRunning;
  }));
  EXPECT_EQ(second.state(), QProcess::Running);
  second.terminate();
  EXPECT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }));
}

}  // namespace
}  // namespace djkivo::app
