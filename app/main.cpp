// djkivo: the player's window. With --demo, or without a configured catalogue host, it runs on
// the embedded demo site, started in-process on a free loopback port.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QSettings>
#include <QTableView>
#include <QTimer>

#include "app/core/heap_policy.h"
#include "app/core/play_list_location.h"
#include "app/core/program_options.h"
#include "app/load_waiter.h"
#include "app/main_form.h"
#include "app/qt_main_thread.h"
#include "app/single_instance.h"
#include "app/song_list.h"
#include "demo/demo_site.h"
#include "net/network_settings.h"

namespace {

// The screenshot waits until the song has played this long (the display then shows its times
// and spectrum), but never longer than the limit: the demo site encodes a song on first use.
constexpr std::chrono::milliseconds kScreenshotPlayed{1500};
constexpr std::chrono::milliseconds kScreenshotLimit{15000};
constexpr std::chrono::milliseconds kScreenshotPoll{100};

// Opens "最新推荐" and plays its first song as a user would, then saves the window to `path`
// and quits with 0 (1 when the file cannot be written).
void TakeScreenshot(djkivo::app::TForm1& form, const QString& path) {
  QTimer::singleShot(0, &form, [&form, path] {
    form.SkinHeaderListBox1->setCurrentRow(1);
    form.SkinHeaderListBox1Items1Click();
    if (form.SkinListView1->model()->rowCount() > 0) {
      form.SkinListView1->selectRow(0);
      form.SkinListView1DblClick();
    }
    auto started = std::chrono::steady_clock::now();
    auto* poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [&form, path, started, poll] {
      auto waited = std::chrono::steady_clock::now() - started;
      bool played = !form.ElapsedText().empty() && form.ElapsedText() != "0:00" &&
                    waited >= kScreenshotPlayed;
      if (!played && waited < kScreenshotLimit)
        return;
      poll->stop();
      bool saved = form.grab().save(path, "PNG");
      if (!saved)
        std::fprintf(stderr, "djkivo: cannot write %s\n", path.toLocal8Bit().constData());
      QCoreApplication::exit(saved ? 0 : 1);
    });
    poll->start(kScreenshotPoll);
  });
}

}  // namespace

int main(int argc, char** argv) {
  using namespace djkivo;
  app::LimitHeapGrowth();
  // The options are read before the Qt application exists, so --help, --version and wrong
  // usage need no display. Qt gets no arguments of its own: its settings come from its
  // environment variables (QT_QPA_PLATFORM, QT_STYLE_OVERRIDE, ...), and none of our option
  // values can be taken for one of its options.
  app::WindowOptions options;
  try {
    options = app::ParseWindowOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& error) {
    std::fprintf(stderr, "djkivo: %s\n%s", error.what(), app::WindowUsageText().c_str());
    return app::kExitUsage;
  }
  if (options.help || options.version) {
    const std::string text = options.help ? app::WindowUsageText() : app::VersionText("djkivo");
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  int qt_argc = 1;
  QApplication application(qt_argc, argv);
  QApplication::setApplicationName(QStringLiteral("djkivo"));
  QApplication::setOrganizationName(QStringLiteral("djkivo"));
  // The installed desktop entry, for Wayland's app id and the desktop's window matching.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.djkivo"));

  QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("djkivo"),
                     QStringLiteral("djkivo"));
  if (options.catalogue_host.empty())
    options.catalogue_host =
        settings.value(QStringLiteral("catalogue-host")).toString().toStdString();
  if (options.home_host.empty())
    options.home_host = settings.value(QStringLiteral("home-host")).toString().toStdString();
  // The home site is the catalogue's own unless one is named.
  if (options.home_host.empty())
    options.home_host = options.catalogue_host;
  if (options.ca_file.empty())
    options.ca_file = settings.value(QStringLiteral("ca-file")).toString().toStdString();
  if (options.proxy.empty())
    options.proxy = settings.value(QStringLiteral("proxy")).toString().toStdString();
  net::TNetworkSettings network = app::NetworkSettings(options);

  // One player per desktop session: a second start shows the running one and ends. A
  // screenshot run is a throw-away player of its own.
  const std::string play_list = options.playlist.empty()
                                    ? app::ChoosePlayListFile(app::CurrentPlayListPlaces()).path
                                    : options.playlist;
  app::SingleInstance instance(play_list, options.new_instance || !options.screenshot.empty());
  switch (instance.TryClaim()) {
    case app::SingleInstance::Claim::kFirst:
      break;
    case app::SingleInstance::Claim::kRaisedRunning:
      return 0;
    case app::SingleInstance::Claim::kNoAnswer:
      std::fprintf(stderr, "djkivo: a running player does not answer; not starting another\n");
      return 1;
  }

  // No catalogue configured: the embedded demo site stands in for the real one. It is reached
  // directly whatever the proxy settings, and over HTTPS trusted for this run only.
  std::unique_ptr<demo::DemoSite> demo_site;
  if (options.demo || options.catalogue_host.empty()) {
    if (!options.demo)
      std::fprintf(stderr, "djkivo: no catalogue host configured; running on the demo site\n");
    try {
      demo::DemoSiteOptions demo_options;
      demo_options.throwaway_tls = options.tls;
      demo_site = std::make_unique<demo::DemoSite>(demo_options);
      demo_site->Start();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "djkivo: cannot start the demo site: %s\n", error.what());
      return 1;
    }
    options.catalogue_host = demo_site->BaseAddress();
    options.home_host = demo_site->BaseAddress();
    network.no_proxy = "127.0.0.1";
    // Every load of a demo run (pages, streams, the version file) goes to the demo site, so its
    // CA is all the trust the run needs; a --ca-file is for other sites and unused here.
    if (demo_site->Tls())
      network.ca_file = demo_site->CaFile();
  } else if (options.tls) {
    std::fprintf(stderr, "djkivo: --tls is for the demo site; ignored with a catalogue host\n");
  }
  net::InstallNetworkSettings(network);

  QtMainThread main_thread;
  MainThread::Install(&main_thread);
  // Quitting while a page load still waits on the network: nothing is left to save (the play
  // list is written on each change, the settings when the window closed), so end at once
  // rather than wait for the load's own time limit.
  app::QtLoadWaiter waiter([] {
    std::fflush(nullptr);
    std::_Exit(0);
  });
  app::Waiter::Install(&waiter);

  int status = 0;
  {
    app::TForm1Config config;
    config.catalogue_host = options.catalogue_host;
    config.home_host = options.home_host;
    config.my_list_file_name = options.playlist;
    config.device = options.device;
    if (options.reconnect_minutes < 0)
      options.reconnect_minutes =
          settings
              .value(QStringLiteral("reconnect-minutes"),
                     static_cast<int>(TMediaStreamIn::kDefaultReconnectMinutes))
              .toInt();
    config.reconnect_minutes = static_cast<std::uint32_t>(std::max(options.reconnect_minutes, 0));
    config.settings_file = settings.fileName();
    config.notifications =
        !options.no_notifications && settings.value(QStringLiteral("notifications"), true).toBool();
    std::unique_ptr<app::TForm1> form;
    try {
      form = std::make_unique<app::TForm1>(std::move(config));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "djkivo: %s\n", error.what());
      status = 1;
    }
    if (form) {
      instance.on_raise = [&form] { form->N11Click(); };
      form->show();
      if (!options.screenshot.empty())
        TakeScreenshot(*form, QString::fromStdString(options.screenshot));
      status = application.exec();
      instance.on_raise = nullptr;  // the window goes now
    }
  }
  app::Waiter::Install(nullptr);
  main_thread.Close();
  MainThread::Install(nullptr);
  return status;
}
