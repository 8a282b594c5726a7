// TForm1: the player's window, its shared state and every handler of its controls.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QString>

#include "app/core/list_load.h"
#include "app/core/my_list.h"
#include "app/core/paging.h"
#include "app/core/song_entry.h"
#include "audio/analysis/spectrum_bands.h"

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
class QTableWidget;
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

class MprisService;
class QtTrayDesktop;
class TPaintPanel;

/// What the window is started with (the program's options, or a test's).
struct TForm1Config {
  std::string catalogue_host;  // `CatalogueHost`, "NAME" or "NAME:PORT"
  std::string home_host;       // `HomeSiteHost`
  /// `MyListFileName`; empty: the desktop's place for it (`PlayListFileFor`).
  std::string my_list_file_name;
  /// The sound device: "portaudio" (default when empty), "null" or "wav:PATH".
  std::string device;
  /// Makes the sound device instead of `device` when set (a benchmark watching the device).
  std::function<std::unique_ptr<SoundDevice>()> device_factory;
  /// Where the volume, play mode and window geometry are remembered; empty: nowhere.
  QString settings_file;
  /// Shows an error message (the standard error box); empty: a modal critical message box.
  std::function<void(const QString& message)> error_box;
  /// Shows an information box (the about box); empty: a modal information message box.
  std::function<void(const QString& message)> info_box;
};

/// The main window: the layout of controls under their component names (each widget's object
/// name is its component name), the state the handlers share, and the handlers.
///
/// Everything here runs on the GUI thread: the handlers, the page loads (which wait in a nested
/// event loop, so other handlers may run while one waits) and the audio events.
class TForm1 final : public QMainWindow {
 public:
  explicit TForm1(TForm1Config config);
  ~TForm1() override;

  // --- Handlers, under the names of the layout. Public so the tray and tests can drive them.
  /// Run once, by the constructor: wires the audio chain, sizes and centres the window, loads
  /// the play list and restores the remembered settings.
  void FormCreate();
  void FormClose();
  void SkinHeaderListBox1Items1Click();
  void SkinHeaderListBox1Items2Click();
  void SkinHeaderListBox1Items3Click();
  void SkinHeaderListBox1Items4Click();
  void SkinHeaderListBox1Items5Click();
  void SkinHeaderListBox1Items7Click();
  void SkinHeaderListBox1Items8Click();
  void SkinHeaderListBox1Items9Click();
  void SkinHeaderListBox1Items10Click();
  void SkinHeaderListBox1Items12Click();
  void SkinHeaderListBox1Items13Click();
  void SkinEdit1ButtonClick();
  void SkinButton9Click();
  void SkinButton6Click();
  void SkinButton7Click();
  void SkinButton8Click();
  void SkinListView1DblClick();
  void SkinListView1SelectItem();
  void SkinPopupMenu2Popup();
  void N3Click();
  void N4Click();
  void N1Click();
  void PlayButtonClick();
  void PauseButtonClick();
  void N7Click();
  void SkinButton1Click();
  void SkinButton2Click();
  void N2Click();
  void N5Click();
  void SkinButton3Click();
  void SkinButton4Click();
  void SkinButton5Click();
  void N11Click();
  void N9Click();
  void SoundOut1Done();
  void Timer1Timer();
  void VolumeBarChange();
  void SpectrumAnalyser1GainData();
  void SkinPaintPanel1PanelPaint(QPainter& Cnvs, const QRect& R);

  // --- Operations the handlers share.
  /// Plays `MyList[CurrentIndex]`; nothing while `CurrentIndex` is -1 or past the end.
  void PlayCurrent();
  /// Reads the song's play page and restarts the audio chain on its stream address; an
  /// unreadable page changes nothing.
  void PlaySongById(const std::string& id);
  /// Replaces the song list's rows with the songs of a category (or search) page.
  void ParseCategoryPage(const std::string& address);
  void ParseSearchPage(const std::string& address);

  // --- The components of the layout under their names, published as a form publishes them
  // (the tray and tests reach them here). Widgets are owned by Qt's parent tree; the audio
  // chain by the form, wired once in `FormCreate` and destroyed output first.
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
  QTableWidget* SkinListView1 = nullptr;
  QWidget* SkinStatusBar1 = nullptr;
  QToolButton* SkinButton3 = nullptr;
  QToolButton* SkinButton5 = nullptr;
  QToolButton* SkinButton4 = nullptr;
  QPushButton* SkinButton9 = nullptr;
  QPushButton* SkinButton6 = nullptr;
  QLineEdit* SkinEdit2 = nullptr;
  QPushButton* SkinButton7 = nullptr;
  QPushButton* SkinButton8 = nullptr;
  QLabel* SkinStatusPanel1 = nullptr;
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

  std::unique_ptr<TMediaStreamIn> MediaStreamIn1;
  std::unique_ptr<TAudioCache> AudioCache1;
  std::unique_ptr<TSpectrumAnalyser> SpectrumAnalyser1;
  std::unique_ptr<TSoundOut> SoundOut1;

  // --- Shared state, read-only for observers.
  int CategoryIndex() const { return category_index_; }
  int CurrentIndex() const { return my_list_.CurrentIndex(); }
  const std::string& PageUrlTemplate() const { return page_url_template_; }
  int CurrentPage() const { return current_page_; }
  const TMyList& MyList() const { return my_list_; }
  const std::string& ElapsedText() const { return elapsed_text_; }
  const std::string& TotalText() const { return total_text_; }
  static constexpr int ProgramVersion = 1;

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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;    // minimise to the tray
  void showEvent(QShowEvent* event) override;  // back from the tray

 private:
  void BuildLayout();
  void WireHandlers();
  void CreateAudioChain();
  QString DisplayTitle() const;
  void OpenCategory(int item_index);
  // Replaces the rows with the songs of one list page. False when a newer list command
  // started while the page loaded: the caller then leaves the state to that command.
  bool LoadList(ListKind kind, const std::string& address);
  void Paging(PagingButton button);
  void ShowList();
  void ClearRows();
  void AddRows(const std::vector<SongEntry>& songs);
  SongEntry RowSong(int row) const;
  int LowestSelectedRow() const;
  void SelectRow(int row);
  bool SequentialMode() const;
  void ShowError(const QString& message);
  void SaveSettings();
  void CreateDesktopComponents();   // from FormCreate
  void DestroyDesktopComponents();  // first thing in the destructor
  void StartMpris();

  // Immutable after construction.
  const TForm1Config config_;

  // --- Shared state (GUI thread only).
  int category_index_ = -1;        // `CategoryIndex`
  std::string page_url_template_;  // `PageUrlTemplate`
  int current_page_ = 1;           // `CurrentPage`
  TMyList my_list_;                // `MyList`, `CurrentIndex`, `MyListFileName`
  std::string elapsed_text_;
  std::string total_text_;
  // The newest list command wins: a list load that ends after a newer command began drops its
  // rows. Play requests are kept apart the same way, so a slow play page cannot replace the
  // song a later double click started.
  ListLoadSequence list_loads_;
  ListLoadSequence play_loads_;
  std::unique_ptr<QSettings> settings_;
  int failed_runs_ = 0;   // runs in a row that ended with an error (see SoundOut1Done)
  bool closing_ = false;  // FormClose ran: a load that returns now starts nothing
  std::mt19937 random_{std::random_device{}()};  // the random play mode's draws
  TSpectrumLevels levels_{};  // the analyser's last spectrum levels, drawn as bars
  // Points at the window while it lives; the version check's worker holds a weak copy.
  std::shared_ptr<TForm1* const> alive_;
};

}  // namespace djkivo::app
