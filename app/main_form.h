// TForm1: the player's window. Its controls and handlers keep the names of the layout; each
// handler forwards to the Qt-free `PlayerController` (app/core/player_controller.h), which holds
// the player's state and logic, and the window shows what the controller tells its view.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QMainWindow>
#include <QString>

#include "app/core/catalogue_pages.h"
#include "app/core/my_list.h"
#include "app/core/playback_controller.h"
#include "app/core/player_view.h"
#include "audio/media_stream_in.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPainter;
class QPushButton;
class QSettings;
class QSlider;
class QTimer;
class QToolButton;
class QWidget;

namespace djkivo {
class SoundDevice;
class TAudioCache;
class TMediaStreamIn;
class TSoundOut;
class TSpectrumAnalyser;
class TTrayIcon;
class TWorkerExecuteThread;
class TWorkerThread;
class TWorkerThreadBase;
}  // namespace djkivo

namespace djkivo::app {

struct AudioChain;
class DesktopObserver;
class MprisService;
class NetworkWatcher;
class SleepInhibitor;
class SongNotifier;
class PlayerController;
class QtTrayDesktop;
class TPaintPanel;
class TSongListModel;
class TSongListView;
class TStatusPanel;

/// What the window is started with (the program's options, or a test's).
struct TForm1Config {
  std::string catalogue_host;  // `CatalogueHost`, "NAME" or "NAME:PORT"
  std::string home_host;       // `HomeSiteHost`
  /// `MyListFileName`; empty: the desktop's place for it (`PlayListFileFor`).
  std::string my_list_file_name;
  /// The sound device: "portaudio" (default when empty), "null" or "wav:PATH".
  std::string device;
  /// How long a dropped stream is reconnected before its song is given up; 0: never.
  std::uint32_t reconnect_minutes = TMediaStreamIn::kDefaultReconnectMinutes;
  /// Makes the sound device instead of `device` when set (a benchmark watching the device).
  std::function<std::unique_ptr<SoundDevice>()> device_factory;
  /// Where the volume, play mode and window geometry are remembered; empty: nowhere.
  QString settings_file;
  /// A desktop notification names each song that starts while the window is out of sight.
  bool notifications = true;
  /// The time rules of playback (tests and the benchmarks shorten or turn them off).
  PlaybackTiming timing;
  /// Shows an error message (the standard error box); empty: a modal critical message box.
  std::function<void(const QString& message)> error_box;
  /// Shows an information box (the about box); empty: a modal information message box.
  std::function<void(const QString& message)> info_box;
};

/// The main window: the layout of controls under their component names (each widget's object
/// name is its component name), and the handlers, each forwarding to the controller.
///
/// Everything here runs on the GUI thread: the handlers, the page loads (which wait in a nested
/// event loop, so other handlers may run while one waits) and the audio events.
class TForm1 final : public QMainWindow, private PlayerView {
 public:
  explicit TForm1(TForm1Config config);
  ~TForm1() override;

  // --- Handlers, under the names of the layout. Public so the tray and tests can drive them.
  /// Run once, by the constructor: sizes and centres the window, shows the home picture, loads
  /// the play list, sets the sequential mode and restores the remembered settings.
  void FormCreate();
  /// Closing the window: stops playback synchronously and remembers the settings.
  void FormClose();
  /// "最新推荐": opens the category.
  void SkinHeaderListBox1Items1Click();
  /// "每月排行": opens the category.
  void SkinHeaderListBox1Items2Click();
  /// "下载排行": opens the category.
  void SkinHeaderListBox1Items3Click();
  /// "年度排行": opens the category.
  void SkinHeaderListBox1Items4Click();
  /// "我的列表": shows the play list.
  void SkinHeaderListBox1Items5Click();
  /// "串烧舞曲": opens the category.
  void SkinHeaderListBox1Items7Click();
  /// "中文舞曲": opens the category.
  void SkinHeaderListBox1Items8Click();
  /// "国外舞曲": opens the category.
  void SkinHeaderListBox1Items9Click();
  /// "原创舞曲": opens the category.
  void SkinHeaderListBox1Items10Click();
  /// "播放首页": shows the home picture.
  void SkinHeaderListBox1Items12Click();
  /// "访问官方": opens the home site in the desktop's browser.
  void SkinHeaderListBox1Items13Click();
  /// The search box's button (and Enter in it): searches for the box's keyword.
  void SkinEdit1ButtonClick();
  /// "首页": the list's first page.
  void SkinButton9Click();
  /// "上一页": the list's previous page.
  void SkinButton6Click();
  /// "下一页": the list's next page.
  void SkinButton7Click();
  /// "跳转" (and Enter in the page box): the page typed in the page box.
  void SkinButton8Click();
  /// A double click in the song list: plays the row (adding it to the play list first).
  void SkinListView1DblClick();
  /// Selecting a row of the song list: nothing by itself.
  void SkinListView1SelectItem();
  /// Either menu opens: enables the song list's commands that apply in the view shown.
  void SkinPopupMenu2Popup();
  /// "加入到播放列表": adds the selected song to the play list and plays it.
  void N3Click();
  /// "删除该播放记录": removes the selected entry from the play list.
  void N4Click();
  /// "清空播放列表": empties the play list.
  void N1Click();
  /// The play button: plays or resumes.
  void PlayButtonClick();
  /// The pause button: pauses.
  void PauseButtonClick();
  /// Tray "播放/暂停" (and the space bar): pauses while playing, plays otherwise.
  void N7Click();
  /// "上一首": plays the previous entry of the play list.
  void SkinButton1Click();
  /// "下一首": plays the next entry of the play list.
  void SkinButton2Click();
  /// Tray "上一首": as the button.
  void N2Click();
  /// Tray "下一首": as the button.
  void N5Click();
  /// "关于": the about box.
  void SkinButton3Click();
  /// "随机播放": the random play mode.
  void SkinButton4Click();
  /// "顺序播放": the sequential play mode.
  void SkinButton5Click();
  /// Tray "打开主界面": shows the window.
  void N11Click();
  /// Tray "退出": closes the window, which ends the program.
  void N9Click();
  /// The output ended a song by itself: auto-advance.
  void SoundOut1Done();
  /// Every 100 ms: the play and pause buttons follow the output's state.
  void Timer1Timer();
  /// The volume bar moved: the output's volume.
  void VolumeBarChange();
  /// The analyser's tick: the position bar and the playing times.
  void SpectrumAnalyser1GainData();
  /// The stream started or ended a reconnect: the display line and the tray's tooltip.
  void MediaStreamIn1Reconnect();
  /// The desktop's network is back: a stream waiting to reconnect tries at once.
  void NetworkWatcher1Back();
  /// Draws the title line and the two playing times (and the spectrum behind them).
  void SkinPaintPanel1PanelPaint(QPainter& Cnvs, const QRect& R);

  // --- Operations the handlers share.
  /// Plays `MyList[CurrentIndex]`; nothing while `CurrentIndex` is -1 or past the end.
  void PlayCurrent();
  /// Opens `address` in the desktop's browser; a failure shows in the error box.
  void OpenInBrowser(const std::string& address);

  // --- The components of the layout under their names, published as a form publishes them
  // (the tray and tests reach them here). Widgets are owned by Qt's parent tree; the audio
  // chain by the form, wired once at construction and destroyed output first.
  QMenuBar* SkinMainMenuBar1 = nullptr;
  QToolButton* PlayButton = nullptr;
  QToolButton* PauseButton = nullptr;
  QToolButton* SkinButton1 = nullptr;
  QToolButton* SkinButton2 = nullptr;
  QLineEdit* SkinEdit1 = nullptr;
  QAction* SkinEdit1Button = nullptr;  // the search box's button
  QSlider* VolumeBar = nullptr;
  QSlider* SkinTrackBar1 = nullptr;
  TPaintPanel* SkinPaintPanel1 = nullptr;
  QWidget* SkinPanel1 = nullptr;
  QListWidget* SkinHeaderListBox1 = nullptr;
  QLabel* Image1 = nullptr;
  TSongListView* SkinListView1 = nullptr;
  QWidget* SkinStatusBar1 = nullptr;
  QToolButton* SkinButton3 = nullptr;
  QToolButton* SkinButton5 = nullptr;
  QToolButton* SkinButton4 = nullptr;
  QPushButton* SkinButton9 = nullptr;
  QPushButton* SkinButton6 = nullptr;
  QLineEdit* SkinEdit2 = nullptr;
  QPushButton* SkinButton7 = nullptr;
  QPushButton* SkinButton8 = nullptr;
  TStatusPanel* SkinStatusPanel1 = nullptr;  // the status line: a word about playback
  QMenu* SkinPopupMenu2 = nullptr;
  QAction* N3 = nullptr;
  QAction* N4 = nullptr;
  QAction* N1 = nullptr;
  QMenu* SkinPopupMenu1 = nullptr;
  QAction* N11 = nullptr;
  QAction* N2 = nullptr;
  QAction* N5 = nullptr;
  QAction* N7 = nullptr;
  QAction* N9 = nullptr;
  QTimer* Timer1 = nullptr;

  // The chain's stages (owned by `chain_`).
  TMediaStreamIn* MediaStreamIn1 = nullptr;
  TAudioCache* AudioCache1 = nullptr;
  TSpectrumAnalyser* SpectrumAnalyser1 = nullptr;
  TSoundOut* SoundOut1 = nullptr;

  // --- Shared state, kept by the controller; read-only here.
  int CategoryIndex() const;
  int CurrentIndex() const;
  const std::string& PageUrlTemplate() const;
  int CurrentPage() const;
  const TMyList& MyList() const;
  const std::string& ElapsedText() const;
  const std::string& TotalText() const;
  static constexpr int ProgramVersion = 1;
  /// The controller behind the window (tests and the desktop side read its state).
  PlayerController& Controller() { return *controller_; }

  // --- Desktop integration (main_form_desktop.cpp): the once-per-run version check, the tray
  // icon and the media-player service on the session bus.
  /// `Timer2`'s one tick after start-up: starts the version check on `WorkerThread1`.
  void Timer2Timer();
  /// Worker thread: the version check against `home_host`. It is handed everything it needs by
  /// value and reaches the window only through `window`, on the main thread, so a check still
  /// running when the window is destroyed touches nothing of it.
  static void WorkerThread1Execute(const std::string& home_host,
                                   const std::weak_ptr<TForm1* const>& window);
  /// Shows the update notice once.
  void Timer3Timer();
  /// A click on the tray icon: shows the window.
  void TrayIcon1Click();
  /// The information box (`info_box` of the configuration or a modal message box); lines of
  /// `message` are separated by "\r" and shown as line breaks.
  void ShowInformation(const QString& message);
  /// The last line of the about box and the update notice.
  static QString MakersNotice();

  QTimer* Timer2 = nullptr;  // 1000 ms, enabled: starts the version check once
  QTimer* Timer3 = nullptr;  // 100 ms, disabled: shows the update notice
  std::unique_ptr<TWorkerThread> WorkerThread1;
  std::unique_ptr<QtTrayDesktop> TrayDesktop1;  // the tray icon's desktop side
  std::unique_ptr<TTrayIcon> TrayIcon1;
  /// Null when the session bus is missing or refused the service.
  std::unique_ptr<MprisService> Mpris1;
  /// The desktop's notifications, the sleep inhibition, and what they hear of the player.
  std::unique_ptr<SongNotifier> Notifier1;
  std::unique_ptr<SleepInhibitor> Inhibitor1;
  std::unique_ptr<DesktopObserver> DesktopObserver1;
  /// NetworkManager's word that the network is back.
  std::unique_ptr<NetworkWatcher> NetworkWatcher1;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;    // minimise to the tray
  void showEvent(QShowEvent* event) override;  // back from the tray
  void hideEvent(QHideEvent* event) override;  // into the tray

 private:
  // PlayerView: what the controller shows through the widgets.
  void ShowHomePicture(bool shown) override;
  void HighlightCategory(int item_index) override;
  void SetPageBox(const std::string& text) override;
  void RowsReset() override;
  void RowsInserted(int first, int count) override;
  void RowRemoved(int row) override;
  void SelectRow(int row) override;
  void ShowListState(ListState state, const std::string& error) override;
  void ShowPlaybackState(PlaybackState state) override;
  void ShowPlayMode(bool random) override;
  void SetProgress(int percent) override;
  void RefreshDisplay() override;
  void ShowNotice(const PlaybackNotice& notice) override;
  void ShowReconnecting(bool reconnecting) override;
  void ShowError(const std::string& message) override;

  void CreateAudioChain();
  void BuildLayout();
  void WireHandlers();
  int LowestSelectedRow() const;
  void ShowErrorText(const QString& message);
  void SaveSettings();
  void CreateDesktopComponents();   // from FormCreate
  void DestroyDesktopComponents();  // first thing in the destructor
  void StartMpris();
  /// The spectrum's bars are drawn only where they can be seen: its analysis runs while the
  /// window is shown and not minimised, and rests while it is hidden in the tray or minimised.
  void MeasureSpectrumWhileSeen();

  // Immutable after construction.
  const TForm1Config config_;

  SiteCataloguePages pages_;
  std::unique_ptr<AudioChain> chain_;
  std::unique_ptr<PlayerController> controller_;
  TSongListModel* song_list_model_ = nullptr;  // owned by the form
  std::unique_ptr<QSettings> settings_;
  // Points at the window while it lives; the version check's worker holds a weak copy.
  std::shared_ptr<TForm1* const> alive_;
};

}  // namespace djkivo::app
