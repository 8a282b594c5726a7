#include "app/main_form.h"

#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cassert>
#include <stdexcept>

#include "app/core/audio_chain.h"
#include "app/core/catalogue_address.h"
#include "app/core/play_list_location.h"
#include "app/core/player_controller.h"
#include "app/core/site_hosts.h"
#include "app/desktop_observer.h"
#include "app/gbk_qstring.h"
#include "app/mpris.h"
#include "app/network_watcher.h"
#include "app/paint_panel.h"
#include "app/skin.h"
#include "app/sleep_inhibitor.h"
#include "app/song_list.h"
#include "app/song_notifier.h"
#include "app/status_panel.h"
#include "app/tray_area.h"
#include "audio/output/sound_device.h"
#include "desktop/tray_icon.h"
#include "desktop/worker_thread.h"

namespace djkivo::app {

namespace {

constexpr int kHeaderItemHeight = 20;
constexpr int kItemHeight = 30;
constexpr int kCategoryListWidth = 169;
constexpr int kSongRowHeight = 22;
constexpr int kPaintPanelHeight = 33;
constexpr int kLayoutSpacing = 4;

// The category list: caption and handler; a header item has none.
struct CategoryItem {
  const char* caption;
  void (TForm1::*handler)();
};
const CategoryItem kCategoryItems[] = {
    {"排行菜单", nullptr},
    {"最新推荐", &TForm1::SkinHeaderListBox1Items1Click},
    {"每月排行", &TForm1::SkinHeaderListBox1Items2Click},
    {"下载排行", &TForm1::SkinHeaderListBox1Items3Click},
    {"年度排行", &TForm1::SkinHeaderListBox1Items4Click},
    {"我的列表", &TForm1::SkinHeaderListBox1Items5Click},
    {"舞曲分类", nullptr},
    {"串烧舞曲", &TForm1::SkinHeaderListBox1Items7Click},
    {"中文舞曲", &TForm1::SkinHeaderListBox1Items8Click},
    {"国外舞曲", &TForm1::SkinHeaderListBox1Items9Click},
    {"原创舞曲", &TForm1::SkinHeaderListBox1Items10Click},
    {"关于云播放", nullptr},
    {"播放首页", &TForm1::SkinHeaderListBox1Items12Click},
    {"访问官方", &TForm1::SkinHeaderListBox1Items13Click},
};

// The home picture, redrawn at the size it is shown in (the layout stretches it).
class THomePicture final : public QLabel {
 public:
  explicit THomePicture(QWidget* parent) : QLabel(parent) {}

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    setPixmap(HomePicture(width(), height()));
  }
};

QToolButton* MakeToolButton(QWidget* parent, const char* name, Glyph glyph, QSize size,
                            const QString& hint) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setIcon(GlyphIcon(glyph));
  button->setFixedSize(size);
  button->setIconSize(size - QSize(10, 10));
  button->setToolTip(hint);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

QPushButton* MakePagingButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setFixedSize(51, 18);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  return action;
}

void AddSeparator(QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(name); }

// The play list file of `given` (--playlist), or the desktop's default place for it.
PlayListChoice MyListFor(const std::string& given) {
  const PlayListChoice file = PlayListFileFor(given, CurrentPlayListPlaces());
  if (!file.note.empty())
    std::fprintf(stderr, "djkivo: %s\n", file.note.c_str());
  return file;
}

// A failure's message on one line: the client's texts carry "\r\n" between their parts.
QString OneLine(const std::string& message) {
  return QString::fromUtf8(message)
      .replace(QStringLiteral("\r\n"), QStringLiteral(" "))
      .simplified();
}

}  // namespace

TForm1::TForm1(TForm1Config config) : config_(std::move(config)) {
  if (!config_.settings_file.isEmpty())
    settings_ = std::make_unique<QSettings>(config_.settings_file, QSettings::IniFormat);
  CreateAudioChain();
  MainThread* main_thread = MainThread::Current();
  assert(main_thread && "the main thread is installed before the window is made");
  PlayerConfig player;
  player.catalogue_host = config_.catalogue_host;
  player.timing = config_.timing;
  const PlayListChoice my_list = MyListFor(config_.my_list_file_name);
  player.my_list_file_name = my_list.path;
  player.my_list_makes_folders = my_list.in_data_folder;
  PlayerView& view = *this;
  controller_ =
      std::make_unique<PlayerController>(std::move(player), pages_, *chain_, view, *main_thread);
  NetworkWatcher1 = std::make_unique<NetworkWatcher>([this] { NetworkWatcher1Back(); });
  BuildLayout();
  WireHandlers();
  FormCreate();
}

TForm1::~TForm1() {
  // Stop while every component is still there: a stop runs the main thread's pending calls,
  // and an analyser tick run then must not meet a half-destroyed window.
  DestroyDesktopComponents();
  NetworkWatcher1.reset();
  controller_->Close();
  SpectrumAnalyser1->SetOnGainData({});
  SoundOut1->SetOnDone({});
  MediaStreamIn1->SetOnReconnect({});
  SkinListView1->setModel(nullptr);  // the model reads the controller's rows
  controller_.reset();
}

void TForm1::CreateAudioChain() {
  std::unique_ptr<SoundDevice> device =
      config_.device_factory ? config_.device_factory() : CreateSoundDevice(config_.device);
  if (!device)
    throw std::invalid_argument("unknown sound device: " + config_.device +
                                " (portaudio, null or wav:PATH)");
  chain_ = std::make_unique<AudioChain>(std::move(device));
  MediaStreamIn1 = &chain_->MediaStreamIn1;
  AudioCache1 = &chain_->AudioCache1;
  SpectrumAnalyser1 = &chain_->SpectrumAnalyser1;
  SoundOut1 = &chain_->SoundOut1;
  MediaStreamIn1->SetReconnectMinutes(config_.reconnect_minutes);
  SpectrumAnalyser1->SetOnGainData([this](TComponent*) { SpectrumAnalyser1GainData(); });
  SoundOut1->SetOnDone([this](TComponent*) { SoundOut1Done(); });
  MediaStreamIn1->SetOnReconnect([this](TComponent*) { MediaStreamIn1Reconnect(); });
  MeasureSpectrumWhileSeen();  // not shown yet
}

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("DJKivo云播放"));
  setWindowIcon(ProgramIcon());
  setStyleSheet(DarkStyleSheet());

  // The skin frame's menu strip carries no menu, and the window manager's frame already gives
  // the title and the drag area: it stays in the layout under its name but is not drawn.
  SkinMainMenuBar1 = new QMenuBar(this);
  SkinMainMenuBar1->setObjectName(QStringLiteral("SkinMainMenuBar1"));
  SkinMainMenuBar1->setFixedHeight(22);
  setMenuBar(SkinMainMenuBar1);
  SkinMainMenuBar1->hide();

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* outer = new QVBoxLayout(central);
  // Tight enough that, at the default size, the category list shows every item unscrolled.
  outer->setContentsMargins(8, 4, 8, 0);
  outer->setSpacing(kLayoutSpacing);

  // Transport, search, volume and position.
  auto* top = new QHBoxLayout;
  top->setSpacing(7);
  const QSize transport(41, 33);
  PlayButton =
      MakeToolButton(central, "PlayButton", Glyph::kPlay, transport, QStringLiteral("播放"));
  PauseButton =
      MakeToolButton(central, "PauseButton", Glyph::kPause, transport, QStringLiteral("暂停"));
  PauseButton->setVisible(false);
  SkinButton1 =
      MakeToolButton(central, "SkinButton1", Glyph::kPrevious, transport, QStringLiteral("上一首"));
  SkinButton2 =
      MakeToolButton(central, "SkinButton2", Glyph::kNext, transport, QStringLiteral("下一首"));
  SkinEdit1 = new QLineEdit(QStringLiteral("狗尾草"), central);
  SkinEdit1->setObjectName(QStringLiteral("SkinEdit1"));
  SkinEdit1->setMinimumWidth(121);
  SkinEdit1->setFixedHeight(22);
  SkinEdit1Button = SkinEdit1->addAction(GlyphIcon(Glyph::kSearch), QLineEdit::TrailingPosition);
  SkinEdit1Button->setToolTip(QStringLiteral("搜索"));
  VolumeBar = new QSlider(Qt::Horizontal, central);
  VolumeBar->setObjectName(QStringLiteral("VolumeBar"));
  VolumeBar->setRange(-4000, 0);
  VolumeBar->setValue(0);
  VolumeBar->setPageStep(400);
  VolumeBar->setFixedWidth(97);
  VolumeBar->setToolTip(QStringLiteral("音量"));
  SkinTrackBar1 = new QSlider(Qt::Horizontal, central);
  SkinTrackBar1->setObjectName(QStringLiteral("SkinTrackBar1"));
  SkinTrackBar1->setRange(0, 100);
  SkinTrackBar1->setValue(50);
  SkinTrackBar1->setEnabled(false);
  SkinTrackBar1->setMinimumWidth(96);
  for (QWidget* widget : {static_cast<QWidget*>(PlayButton), static_cast<QWidget*>(PauseButton),
                          static_cast<QWidget*>(SkinButton1), static_cast<QWidget*>(SkinButton2)})
    top->addWidget(widget);
  top->addWidget(SkinEdit1, 2);
  top->addWidget(VolumeBar);
  top->addWidget(SkinTrackBar1, 3);
  outer->addLayout(top);

  SkinPaintPanel1 = new TPaintPanel(central);
  SkinPaintPanel1->setObjectName(QStringLiteral("SkinPaintPanel1"));
  SkinPaintPanel1->setMinimumSize(137, kPaintPanelHeight);
  SkinPaintPanel1->setFixedHeight(kPaintPanelHeight);
  outer->addWidget(SkinPaintPanel1);

  // The category list on the left, the home picture or the song list in the rest.
  SkinPanel1 = new QWidget(central);
  SkinPanel1->setObjectName(QStringLiteral("SkinPanel1"));
  auto* panel_layout = new QHBoxLayout(SkinPanel1);
  panel_layout->setContentsMargins(0, 0, 0, 0);
  panel_layout->setSpacing(0);
  SkinHeaderListBox1 = new QListWidget(SkinPanel1);
  SkinHeaderListBox1->setObjectName(QStringLiteral("SkinHeaderListBox1"));
  SkinHeaderListBox1->setFixedWidth(kCategoryListWidth);
  SkinHeaderListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const CategoryItem& entry : kCategoryItems) {
    auto* item = new QListWidgetItem(QString::fromUtf8(entry.caption), SkinHeaderListBox1);
    if (entry.handler == nullptr) {
      item->setFlags(Qt::NoItemFlags);
      QFont font = item->font();
      font.setBold(true);
      item->setFont(font);
      item->setForeground(QColor(0x8a, 0x90, 0x9c));
      item->setBackground(QColor(0x22, 0x26, 0x2f));
      item->setSizeHint(QSize(kCategoryListWidth, kHeaderItemHeight));
    } else {
      item->setSizeHint(QSize(kCategoryListWidth, kItemHeight));
    }
  }
  SkinHeaderListBox1->setCurrentRow(1);
  panel_layout->addWidget(SkinHeaderListBox1);

  auto* content = new QWidget(SkinPanel1);
  auto* content_layout = new QGridLayout(content);
  content_layout->setContentsMargins(0, 0, 0, 0);
  Image1 = new THomePicture(content);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setScaledContents(true);
  Image1->setMinimumSize(1, 1);
  Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  SkinListView1 = new TSongListView(content);
  SkinListView1->setObjectName(QStringLiteral("SkinListView1"));
  song_list_model_ = new TSongListModel(controller_->Catalogue(), this);
  SkinListView1->setModel(song_list_model_);
  SkinListView1->setColumnWidth(TSongListModel::kNameColumn, TSongListView::kNameWidth);
  SkinListView1->setColumnWidth(TSongListModel::kUploaderColumn, TSongListView::kUploaderWidth);
  SkinListView1->setColumnWidth(TSongListModel::kIdColumn, 0);
  SkinListView1->setColumnHidden(TSongListModel::kIdColumn, true);
  SkinListView1->setShowGrid(true);
  SkinListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  SkinListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  SkinListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SkinListView1->setWordWrap(false);
  // Rows of one fixed height: the view lays out only the rows on screen, however long the list.
  SkinListView1->verticalHeader()->hide();
  SkinListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  SkinListView1->verticalHeader()->setDefaultSectionSize(kSongRowHeight);
  SkinListView1->horizontalHeader()->setHighlightSections(false);
  SkinListView1->horizontalHeader()->setStretchLastSection(false);
  SkinListView1->setContextMenuPolicy(Qt::CustomContextMenu);
  content_layout->addWidget(Image1, 0, 0);
  content_layout->addWidget(SkinListView1, 0, 0);
  panel_layout->addWidget(content, 1);
  outer->addWidget(SkinPanel1, 1);

  // The status bar: about, the two play modes, paging.
  SkinStatusBar1 = new QWidget(central);
  SkinStatusBar1->setObjectName(QStringLiteral("SkinStatusBar1"));
  SkinStatusBar1->setAttribute(Qt::WA_StyledBackground, true);
  SkinStatusBar1->setFixedHeight(25);
  auto* status = new QHBoxLayout(SkinStatusBar1);
  status->setContentsMargins(5, 2, 5, 2);
  status->setSpacing(7);
  const QSize small(33, 18);
  SkinButton3 =
      MakeToolButton(SkinStatusBar1, "SkinButton3", Glyph::kAbout, small, QStringLiteral("关于"));
  SkinButton5 = MakeToolButton(SkinStatusBar1, "SkinButton5", Glyph::kSequential, small,
                               QStringLiteral("顺序播放"));
  SkinButton4 = MakeToolButton(SkinStatusBar1, "SkinButton4", Glyph::kRandom, small,
                               QStringLiteral("随机播放"));
  for (QToolButton* button : {SkinButton3, SkinButton5, SkinButton4})
    button->setIconSize(QSize(12, 12));
  SkinButton5->setCheckable(true);
  SkinButton4->setCheckable(true);
  SkinButton9 = MakePagingButton(SkinStatusBar1, "SkinButton9", QStringLiteral("首页"));
  SkinButton6 = MakePagingButton(SkinStatusBar1, "SkinButton6", QStringLiteral("上一页"));
  SkinEdit2 = new QLineEdit(QStringLiteral("1"), SkinStatusBar1);
  SkinEdit2->setObjectName(QStringLiteral("SkinEdit2"));
  SkinEdit2->setAlignment(Qt::AlignRight);
  SkinEdit2->setFixedSize(32, 19);
  SkinButton7 = MakePagingButton(SkinStatusBar1, "SkinButton7", QStringLiteral("下一页"));
  SkinButton8 = MakePagingButton(SkinStatusBar1, "SkinButton8", QStringLiteral("跳转"));
  SkinStatusPanel1 = new TStatusPanel(SkinStatusBar1);
  SkinStatusPanel1->setObjectName(QStringLiteral("SkinStatusPanel1"));
  status->addWidget(SkinButton3);
  status->addWidget(SkinButton5);
  status->addWidget(SkinButton4);
  status->addSpacing(90);
  status->addWidget(SkinButton9);
  status->addWidget(SkinButton6);
  status->addWidget(SkinEdit2);
  status->addWidget(SkinButton7);
  status->addWidget(SkinButton8);
  status->addWidget(SkinStatusPanel1, 1);
  outer->addWidget(SkinStatusBar1);

  SkinPopupMenu2 = new QMenu(this);
  SkinPopupMenu2->setObjectName(QStringLiteral("SkinPopupMenu2"));
  N3 = MakeAction(SkinPopupMenu2, "N3", QStringLiteral("加入到播放列表"));
  N4 = MakeAction(SkinPopupMenu2, "N4", QStringLiteral("删除该播放记录"));
  N1 = MakeAction(SkinPopupMenu2, "N1", QStringLiteral("清空播放列表"));

  SkinPopupMenu1 = new QMenu(this);
  SkinPopupMenu1->setObjectName(QStringLiteral("SkinPopupMenu1"));
  N11 = MakeAction(SkinPopupMenu1, "N11", QStringLiteral("打开主界面"));
  AddSeparator(SkinPopupMenu1, "N10");
  N2 = MakeAction(SkinPopupMenu1, "N2", QStringLiteral("上一首"));
  N5 = MakeAction(SkinPopupMenu1, "N5", QStringLiteral("下一首"));
  AddSeparator(SkinPopupMenu1, "N6");
  N7 = MakeAction(SkinPopupMenu1, "N7", QStringLiteral("播放/暂停"));
  AddSeparator(SkinPopupMenu1, "N8");
  N9 = MakeAction(SkinPopupMenu1, "N9", QStringLiteral("退出"));

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
}

void TForm1::WireHandlers() {
  connect(SkinHeaderListBox1, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    int index = SkinHeaderListBox1->row(item);
    if (index >= 0 && index < static_cast<int>(std::size(kCategoryItems)) &&
        kCategoryItems[index].handler != nullptr)
      (this->*kCategoryItems[index].handler)();
  });
  connect(SkinEdit1Button, &QAction::triggered, this, &TForm1::SkinEdit1ButtonClick);
  connect(SkinEdit1, &QLineEdit::returnPressed, this, &TForm1::SkinEdit1ButtonClick);
  connect(SkinButton9, &QPushButton::clicked, this, &TForm1::SkinButton9Click);
  connect(SkinButton6, &QPushButton::clicked, this, &TForm1::SkinButton6Click);
  connect(SkinButton7, &QPushButton::clicked, this, &TForm1::SkinButton7Click);
  connect(SkinButton8, &QPushButton::clicked, this, &TForm1::SkinButton8Click);
  connect(SkinEdit2, &QLineEdit::returnPressed, this, &TForm1::SkinButton8Click);
  connect(SkinListView1, &QAbstractItemView::doubleClicked, this, &TForm1::SkinListView1DblClick);
  connect(SkinListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TForm1::SkinListView1SelectItem);
  connect(SkinListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    SkinPopupMenu2->popup(SkinListView1->viewport()->mapToGlobal(pos));
  });
  connect(SkinPopupMenu2, &QMenu::aboutToShow, this, &TForm1::SkinPopupMenu2Popup);
  connect(SkinPopupMenu1, &QMenu::aboutToShow, this, &TForm1::SkinPopupMenu2Popup);
  connect(N3, &QAction::triggered, this, &TForm1::N3Click);
  connect(N4, &QAction::triggered, this, &TForm1::N4Click);
  connect(N1, &QAction::triggered, this, &TForm1::N1Click);
  connect(N11, &QAction::triggered, this, &TForm1::N11Click);
  connect(N2, &QAction::triggered, this, &TForm1::N2Click);
  connect(N5, &QAction::triggered, this, &TForm1::N5Click);
  connect(N7, &QAction::triggered, this, &TForm1::N7Click);
  connect(N9, &QAction::triggered, this, &TForm1::N9Click);
  connect(PlayButton, &QToolButton::clicked, this, &TForm1::PlayButtonClick);
  connect(PauseButton, &QToolButton::clicked, this, &TForm1::PauseButtonClick);
  connect(SkinButton1, &QToolButton::clicked, this, &TForm1::SkinButton1Click);
  connect(SkinButton2, &QToolButton::clicked, this, &TForm1::SkinButton2Click);
  connect(SkinButton3, &QToolButton::clicked, this, &TForm1::SkinButton3Click);
  connect(SkinButton4, &QToolButton::clicked, this, &TForm1::SkinButton4Click);
  connect(SkinButton5, &QToolButton::clicked, this, &TForm1::SkinButton5Click);
  connect(VolumeBar, &QSlider::valueChanged, this, &TForm1::VolumeBarChange);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  SkinPaintPanel1->OnPanelPaint = [this](QPainter& canvas, const QRect& rect) {
    SkinPaintPanel1PanelPaint(canvas, rect);
  };
  // Space toggles play and pause, as in most players (a text box keeps its own spaces).
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  connect(space, &QShortcut::activated, this, &TForm1::N7Click);
}

// --- Start-up and shut-down ----------------------------------------------------------------

void TForm1::FormCreate() {
  resize(700, 500);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  SkinListView1->hide();
  Image1->show();
  controller_->LoadPlayList();
  SkinButton5Click();
  Timer1->start();

  // What the user set last time: the volume, the play mode and where the window was.
  if (settings_) {
    VolumeBar->setValue(settings_->value(QStringLiteral("volume"), 0).toInt());
    controller_->Playback().SetRandomMode(
        !settings_->value(QStringLiteral("sequential"), true).toBool());
    QByteArray geometry = settings_->value(QStringLiteral("geometry")).toByteArray();
    if (!geometry.isEmpty())
      restoreGeometry(geometry);
  }
  CreateDesktopComponents();
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::FormClose() {
  SaveSettings();
  controller_->Close();
}

void TForm1::SaveSettings() {
  if (!settings_)
    return;
  settings_->setValue(QStringLiteral("volume"), VolumeBar->value());
  settings_->setValue(QStringLiteral("sequential"), !controller_->Playback().RandomMode());
  settings_->setValue(QStringLiteral("geometry"), saveGeometry());
  settings_->sync();
}

// --- State ---------------------------------------------------------------------------------

int TForm1::CategoryIndex() const { return controller_->Catalogue().CategoryIndex(); }
int TForm1::CurrentIndex() const { return controller_->MyList().CurrentIndex(); }
const std::string& TForm1::PageUrlTemplate() const {
  return controller_->Catalogue().PageUrlTemplate();
}
int TForm1::CurrentPage() const { return controller_->Catalogue().CurrentPage(); }
const TMyList& TForm1::MyList() const { return controller_->MyList(); }
const std::string& TForm1::ElapsedText() const { return controller_->Playback().ElapsedText(); }
const std::string& TForm1::TotalText() const { return controller_->Playback().TotalText(); }

// --- The song list's handlers ----------------------------------------------------------------

void TForm1::SkinHeaderListBox1Items1Click() { controller_->Catalogue().OpenCategory(1); }
void TForm1::SkinHeaderListBox1Items2Click() { controller_->Catalogue().OpenCategory(2); }
void TForm1::SkinHeaderListBox1Items3Click() { controller_->Catalogue().OpenCategory(3); }
void TForm1::SkinHeaderListBox1Items4Click() { controller_->Catalogue().OpenCategory(4); }
void TForm1::SkinHeaderListBox1Items5Click() { controller_->ShowPlayList(); }
void TForm1::SkinHeaderListBox1Items7Click() { controller_->Catalogue().OpenCategory(7); }
void TForm1::SkinHeaderListBox1Items8Click() { controller_->Catalogue().OpenCategory(8); }
void TForm1::SkinHeaderListBox1Items9Click() { controller_->Catalogue().OpenCategory(9); }
void TForm1::SkinHeaderListBox1Items10Click() { controller_->Catalogue().OpenCategory(10); }
void TForm1::SkinHeaderListBox1Items12Click() { controller_->Catalogue().ShowHome(); }
void TForm1::SkinHeaderListBox1Items13Click() {
  if (!NamesAHost(config_.home_host)) {
    ShowErrorText(QStringLiteral("No home site to visit: \"%1\" names no host. Start the player "
                                 "with --home-host HOST, or set home-host in its settings file.")
                      .arg(QString::fromStdString(config_.home_host)));
    return;
  }
  OpenInBrowser(HomePageAddress(config_.home_host));
}

void TForm1::SkinEdit1ButtonClick() {
  controller_->Catalogue().Search(ToGbkText(SkinEdit1->text()));
}
void TForm1::SkinButton9Click() { controller_->Catalogue().FirstPage(); }
void TForm1::SkinButton6Click() { controller_->Catalogue().PreviousPage(); }
void TForm1::SkinButton7Click() { controller_->Catalogue().NextPage(); }
void TForm1::SkinButton8Click() {
  controller_->Catalogue().GoToPage(SkinEdit2->text().toStdString());
}

void TForm1::SkinListView1DblClick() { controller_->PlaySelected(LowestSelectedRow()); }
void TForm1::SkinListView1SelectItem() {}
void TForm1::N3Click() { controller_->AddToPlayList(LowestSelectedRow()); }
void TForm1::N4Click() { controller_->DeleteEntry(LowestSelectedRow()); }
void TForm1::N1Click() { controller_->ClearPlayList(); }

void TForm1::SkinPopupMenu2Popup() {
  const PlayListMenu menu = controller_->MenuState();
  N3->setEnabled(menu.add);
  N4->setEnabled(menu.remove);
  N1->setEnabled(menu.clear);
}

int TForm1::LowestSelectedRow() const {
  int lowest = -1;
  for (const QModelIndex& index : SkinListView1->selectionModel()->selectedRows())
    if (lowest < 0 || index.row() < lowest)
      lowest = index.row();
  return lowest;
}

// --- Messages and the site link --------------------------------------------------------------

void TForm1::OpenInBrowser(const std::string& address) {
  const QString url = QString::fromStdString(address);
  if (!QDesktopServices::openUrl(QUrl(url)))
    ShowErrorText(QStringLiteral("Cannot open a browser on %1").arg(url));
}

void TForm1::ShowErrorText(const QString& message) {
  if (config_.error_box)
    config_.error_box(message);
  else
    QMessageBox::critical(this, windowTitle(), message);
}

void TForm1::SkinButton3Click() {
  ShowInformation(QStringLiteral("DJKivo云播放器!\r最嗨，最全，最好听的DJ音乐！尽在DJ云!\r") +
                  MakersNotice());
}

void TForm1::N11Click() {
  showNormal();
  raise();
  activateWindow();
}

void TForm1::N9Click() {
  // Qt ends the program when its last visible window closes; a window hidden in the tray is
  // not visible, so closing it from the tray ends the program here.
  const bool in_tray = isHidden();
  close();
  if (in_tray)
    QCoreApplication::quit();
}

// --- The view the controller drives ------------------------------------------------------------

void TForm1::ShowHomePicture(bool shown) {
  SkinListView1->setVisible(!shown);
  Image1->setVisible(shown);
}

void TForm1::HighlightCategory(int item_index) { SkinHeaderListBox1->setCurrentRow(item_index); }

void TForm1::SetPageBox(const std::string& text) {
  SkinEdit2->setText(QString::fromStdString(text));
}

void TForm1::RowsReset() { song_list_model_->Reset(); }

void TForm1::RowsInserted(int first, int count) { song_list_model_->Inserted(first, count); }

void TForm1::RowRemoved(int row) { song_list_model_->Removed(row); }

void TForm1::SelectRow(int row) {
  if (row < 0 || row >= song_list_model_->rowCount()) {
    SkinListView1->clearSelection();
    return;
  }
  SkinListView1->selectRow(row);
  SkinListView1->scrollTo(song_list_model_->index(row, TSongListModel::kNameColumn));
}

void TForm1::ShowListState(ListState state, const std::string& error) {
  switch (state) {
    case ListState::kShown:
      SkinListView1->ShowMessage({});
      break;
    case ListState::kLoading:
      SkinListView1->ShowMessage(QStringLiteral("正在加载…"));
      break;
    case ListState::kFailed:
      SkinListView1->ShowMessage(QStringLiteral("加载失败：%1").arg(OneLine(error)));
      break;
    case ListState::kNoSongs:
      SkinListView1->ShowMessage(QStringLiteral("没有找到歌曲"));
      break;
  }
}

void TForm1::ShowNotice(const PlaybackNotice& notice) {
  switch (notice.kind) {
    case PlaybackNotice::Kind::kNone:
      SkinStatusPanel1->ShowText({});
      break;
    case PlaybackNotice::Kind::kPlayPageFailed:
      SkinStatusPanel1->ShowText(QStringLiteral("无法播放《%1》：%2")
                                     .arg(ShownSongName(notice.song_name), OneLine(notice.reason)));
      break;
    case PlaybackNotice::Kind::kStopped:
      SkinStatusPanel1->ShowText(QStringLiteral("连续 %1 首歌曲无法播放，已停止：%2")
                                     .arg(notice.failed_songs)
                                     .arg(OneLine(notice.reason)));
      break;
    case PlaybackNotice::Kind::kCutShort:
      SkinStatusPanel1->ShowText(QStringLiteral("《%1》未能播完：%2")
                                     .arg(ShownSongName(notice.song_name), OneLine(notice.reason)));
      break;
  }
}

void TForm1::ShowError(const std::string& message) { ShowErrorText(QString::fromUtf8(message)); }

}  // namespace djkivo::app
