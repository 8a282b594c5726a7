// The window's desktop side: the version check started once after start-up, the update notice,
// the tray icon (minimise to the tray, a click brings the window back) and the player's
// controls on the session bus for the desktop's media keys and sound panels.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QEvent>
#include <QHideEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>

#include "app/core/player_controller.h"
#include "app/core/site_hosts.h"
#include "app/core/version_check.h"
#include "app/desktop_observer.h"
#include "app/gbk_qstring.h"
#include "app/main_form.h"
#include "app/mpris.h"
#include "app/sleep_inhibitor.h"
#include "app/song_list.h"
#include "app/song_notifier.h"
#include "app/tray_area.h"
#include "base/gbk_text.h"
#include "desktop/tray_icon.h"
#include "desktop/worker_thread.h"

namespace djkivo::app {

namespace {

constexpr int kVersionCheckDelay = 1000;  // ms after start-up: the window is up by then
constexpr int kNoticeDelay = 100;         // ms from the worker's request to the notice

// The player's state as the session bus names it.
QString PlaybackStatusName(PlaybackState state) {
  switch (state) {
    case PlaybackState::kPlaying:
      return QStringLiteral("Playing");
    case PlaybackState::kPaused:
      return QStringLiteral("Paused");
    case PlaybackState::kIdle:
      break;
  }
  return QStringLiteral("Stopped");
}

}  // namespace

QString TForm1::MakersNotice() {
  return QStringLiteral("DJKivo云播放 %1，自由软件，仅供学习与交流。").arg(ProgramVersion);
}

void TForm1::ShowInformation(const QString& message) {
  // The texts separate their lines with a carriage return; a Qt box breaks lines at "\n".
  QString shown = message;
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (config_.info_box)
    config_.info_box(shown);
  else
    QMessageBox::information(this, windowTitle(), shown);
}

void TForm1::CreateDesktopComponents() {
  alive_ = std::make_shared<TForm1* const>(this);

  WorkerThread1 = std::make_unique<TWorkerThread>();
  WorkerThread1->SetUpdateEnabled(false);
  WorkerThread1->OnExecute = [home_host = config_.home_host,
                              window = std::weak_ptr<TForm1* const>(alive_)](
                                 TWorkerThreadBase*, TWorkerExecuteThread&, void*&) {
    WorkerThread1Execute(home_host, window);
  };
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(kVersionCheckDelay);
  connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
  Timer3 = new QTimer(this);
  Timer3->setObjectName(QStringLiteral("Timer3"));
  Timer3->setInterval(kNoticeDelay);
  connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
  Timer2->start();

  TrayDesktop1 = std::make_unique<QtTrayDesktop>(this, SkinPopupMenu1);
  TrayIcon1 = std::make_unique<TTrayIcon>(*TrayDesktop1, *TrayDesktop1, TrayDesktop1.get());
  TrayIcon1->SetHint(Utf8ToGbk("DJKivo云播放").value_or(std::string()));
  TrayIcon1->SetIcon(std::make_shared<QtTrayImage>(windowIcon()));
  TrayIcon1->SetMinimizeToTray(true);
  TrayIcon1->OnClick = [this] { TrayIcon1Click(); };
  TrayDesktop1->Attach(*TrayIcon1);
  TrayIcon1->Loaded();

  StartMpris();

  Notifier1 = std::make_unique<SongNotifier>();
  Notifier1->SetEnabled(config_.notifications);
  Inhibitor1 = std::make_unique<SleepInhibitor>();
  DesktopObserver1 = std::make_unique<DesktopObserver>(*this, *Notifier1, *Inhibitor1);
  controller_->Playback().AddObserver(*DesktopObserver1);
}

void TForm1::DestroyDesktopComponents() {
  // The bus service and the tray reach into the window: they go first. The version check
  // learns the window is gone before its worker is waited for, so a request it posts now (or
  // later, from a worker left to finish on its own) finds nothing to enable.
  Mpris1.reset();
  if (DesktopObserver1)
    controller_->Playback().RemoveObserver(*DesktopObserver1);
  DesktopObserver1.reset();
  Inhibitor1.reset();  // releases a held inhibition
  Notifier1.reset();
  TrayIcon1.reset();
  TrayDesktop1.reset();
  alive_.reset();
  WorkerThread1.reset();
}

// --- The version check -------------------------------------------------------------------------

void TForm1::Timer2Timer() {
  Timer2->stop();  // once per run
  if (!NamesAHost(config_.home_host)) {
    std::fprintf(stderr, "djkivo: the home site \"%s\" names no host; no version check\n",
                 config_.home_host.c_str());
    return;
  }
  WorkerThread1->Start();
}

void TForm1::WorkerThread1Execute(const std::string& home_host,
                                  const std::weak_ptr<TForm1* const>& window) {
  if (!NewerReleaseAnnounced(home_host, ProgramVersion))
    return;
  // A live token means the window's destructor has not yet reached its wait for this worker,
  // so the main thread is still there to post to; a window already going away is not asked.
  const std::shared_ptr<TForm1* const> holder = window.lock();
  if (!holder)
    return;
  // Timer3 belongs to the window's thread: ask there.
  MainThread::Current()->Post([window] {
    if (std::shared_ptr<TForm1* const> form = window.lock())
      (*form)->Timer3->start();
  });
}

void TForm1::Timer3Timer() {
  Timer3->stop();
  ShowInformation(QStringLiteral("发现新版本！请注意及时更新！！！\r"
                                 "最嗨，最全，最好听的DJ音乐！尽在DJKivo云播放!\r") +
                  MakersNotice());
}

// --- The tray icon ---------------------------------------------------------------------------

void TForm1::TrayIcon1Click() { N11Click(); }

void TForm1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange)
    MeasureSpectrumWhileSeen();
  if (event->type() != QEvent::WindowStateChange || !isMinimized() || !TrayIcon1)
    return;
  // Hiding a window inside its own state change confuses some window managers: hide it once
  // the change has been handled, if it is still minimised then.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (isMinimized() && TrayIcon1)
          TrayIcon1->HandleApplicationMinimized();
      },
      Qt::QueuedConnection);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  MeasureSpectrumWhileSeen();
  // A window the program shows minimised (out of a notification area that went away) stays so.
  if (TrayIcon1 && !event->spontaneous() && !isMinimized())
    TrayIcon1->HandleFormShown();
}

void TForm1::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  MeasureSpectrumWhileSeen();
}

void TForm1::MeasureSpectrumWhileSeen() {
  if (SpectrumAnalyser1)
    SpectrumAnalyser1->SetMeasuring(isVisible() && !isMinimized());
}

// --- The player on the session bus -------------------------------------------------------------

void TForm1::StartMpris() {
  MprisPlayer player;
  player.raise = [this] { N11Click(); };
  player.quit = [this] { N9Click(); };
  player.play_pause = [this] { N7Click(); };
  player.play = [this] {
    if (controller_->Playback().State() != PlaybackState::kPlaying)
      PlayButtonClick();
  };
  player.pause = [this] {
    if (controller_->Playback().State() == PlaybackState::kPlaying)
      PauseButtonClick();
  };
  player.next = [this] { SkinButton2Click(); };
  player.previous = [this] { SkinButton1Click(); };
  player.playback_status = [this] { return PlaybackStatusName(controller_->Playback().State()); };
  player.title = [this] {
    const DisplayLine line = controller_->Playback().Display();
    return line.song ? ShownSongName(line.song->name) : QString();
  };
  player.artist = [this] {
    const DisplayLine line = controller_->Playback().Display();
    return line.song ? FromGbkText(line.song->uploader) : QString();
  };
  // The bus's volume runs from 0 to 1 over the bar's whole range.
  player.volume = [this] {
    const double span = VolumeBar->maximum() - VolumeBar->minimum();
    return span > 0 ? (VolumeBar->value() - VolumeBar->minimum()) / span : 1.0;
  };
  player.set_volume = [this](double volume) {
    const double span = VolumeBar->maximum() - VolumeBar->minimum();
    VolumeBar->setValue(VolumeBar->minimum() +
                        static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * span)));
  };
  auto service = std::make_unique<MprisService>(std::move(player));
  if (service->Start())
    Mpris1 = std::move(service);
}

}  // namespace djkivo::app
