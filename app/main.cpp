// djkivo: the player's window. With --demo, or without a configured catalogue host, it runs on
// the embedded demo site, started in-process on a free loopback port.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QSettings>

#include "app/core/window_options.h"
#include "app/load_waiter.h"
#include "app/main_form.h"
#include "app/qt_main_thread.h"
#include "demo/demo_site.h"

int main(int argc, char** argv) {
  using namespace djkivo;
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("djkivo"));
  QApplication::setOrganizationName(QStringLiteral("djkivo"));

  app::WindowOptions options;
  try {
    QStringList arguments = QApplication::arguments();
    std::vector<std::string> args;
    for (qsizetype i = 1; i < arguments.size(); ++i)
      args.push_back(arguments[i].toStdString());
    options = app::ParseWindowOptions(args);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "djkivo: %s\n%s", error.what(), app::kWindowUsage);
    return 64;
  }
  if (options.help) {
    std::fputs(app::kWindowUsage, stdout);
    return 0;
  }

  QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("djkivo"),
                     QStringLiteral("djkivo"));
  if (options.catalogue_host.empty())
    options.catalogue_host = settings.value(QStringLiteral("catalogue-host")).toString().toStdString();
  if (options.home_host.empty())
    options.home_host = settings.value(QStringLiteral("home-host")).toString().toStdString();

  // No catalogue configured: the embedded demo site stands in for the real one.
  std::unique_ptr<demo::DemoSite> demo_site;
  if (options.demo || options.catalogue_host.empty()) {
    if (!options.demo)
      std::fprintf(stderr, "djkivo: no catalogue host configured; running on the demo site\n");
    try {
      demo_site = std::make_unique<demo::DemoSite>();
      demo_site->Start();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "djkivo: cannot start the demo site: %s\n", error.what());
      return 1;
    }
    options.catalogue_host = demo_site->HostPort();
    options.home_host = demo_site->HostPort();
  }

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
    config.settings_file = settings.fileName();
    std::unique_ptr<app::TForm1> form;
    try {
      form = std::make_unique<app::TForm1>(std::move(config));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "djkivo: %s\n", error.what());
      status = 1;
    }
    if (form) {
      form->show();
      status = application.exec();
    }
  }
  app::Waiter::Install(nullptr);
  main_thread.Close();
  MainThread::Install(nullptr);
  return status;
}
