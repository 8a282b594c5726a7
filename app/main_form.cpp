#include "app/main_form.h"

#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/core/catalogue_address.h"
#include "app/core/list_load.h"
#include "app/core/paging.h"
#include "app/core/play_list_location.h"
#include "app/core/site_hosts.h"
#include "app/core/text.h"
#include "app/core/time_display.h"
#include "app/gbk_qstring.h"
#include "app/mpris.h"
#include "app/paint_panel.h"
#include "app/skin.h"
#include "app/tray_area.h"
#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/media_stream_in.h"
#include "audio/output/sound_out.h"
#include "desktop/tray_icon.h"
#include "desktop/worker_thread.h"

namespace djkivo::app {

namespace {

// Column of the song list holding each field; the id column has width 0 (hidden).
constexpr int kNameColumn = 0;
constexpr int kUploaderColumn = 1;
constexpr int kIdColumn = 2;
// Where a song-list cell keeps its field's GBK bytes, so a row goes back into the play list
// byte for byte whatever its display form.
constexpr int kBytesRole = Qt::UserRole;

constexpr int kHeaderItemHeight = 20;
constexpr int kItemHeight = 30;
constexpr int kCategoryListWidth = 169;

// The category list: caption and whether the item is a header (no handler).
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
TMyList MyListFor(const std::string& given) {
  const PlayListChoice file = PlayListFileFor(given, CurrentPlayListPlaces());
  if (!file.note.empty())
    std::fprintf(stderr, "djkivo: %s\n", file.note.c_str());
  return TMyList(file.path, file.in_data_folder);
}

}  // namespace

TForm1::TForm1(TForm1Config config)
    : config_(std::move(config)), my_list_(MyListFor(config_.my_list_file_name)) {
  if (!config_.settings_file.isEmpty())
    settings_ = std::make_unique<QSettings>(config_.settings_file, QSettings::IniFormat);
  BuildLayout();
  WireHandlers();
  FormCreate();
}

TForm1::~TForm1() {
  // Stop while every component is still there: a stop runs the main thread's pending calls,
  // and an analyser tick run then must not meet a half-destroyed chain.
  closing_ = true;
  DestroyDesktopComponents();
  if (SoundOut1)
    SoundOut1->Stop(false);
}

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("DJKivo云播放"));
  setWindowIcon(ProgramIcon());
  setStyleSheet(DarkStyleSheet());

  SkinMainMenuBar1 = new QMenuBar(this);
  SkinMainMenuBar1->setObjectName(QStringLiteral("SkinMainMenuBar1"));
  SkinMainMenuBar1->setFixedHeight(22);
  setMenuBar(SkinMainMenuBar1);

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(8, 2, 8, 0);
  outer->setSpacing(6);

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
  SkinPaintPanel1->setMinimumSize(137, 33);
  SkinPaintPanel1->setFixedHeight(40);
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
  SkinListView1 = new QTableWidget(0, 3, content);
  SkinListView1->setObjectName(QStringLiteral("SkinListView1"));
  SkinListView1->setHorizontalHeaderLabels(
      {QStringLiteral("歌曲名称"), QStringLiteral("上传者"), QStringLiteral("id")});
  SkinListView1->setColumnWidth(kNameColumn, 400);
  SkinListView1->setColumnWidth(kUploaderColumn, 100);
  SkinListView1->setColumnWidth(kIdColumn, 0);
  SkinListView1->setColumnHidden(kIdColumn, true);
  SkinListView1->setShowGrid(true);
  SkinListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  SkinListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  SkinListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SkinListView1->setWordWrap(false);
  SkinListView1->verticalHeader()->hide();
  SkinListView1->verticalHeader()->setDefaultSectionSize(22);
  SkinListView1->horizontalHeader()->setHighlightSections(false);
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
  SkinStatusPanel1 = new QLabel(SkinStatusBar1);
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
  connect(SkinListView1, &QTableWidget::cellDoubleClicked, this, &TForm1::SkinListView1DblClick);
  connect(SkinListView1, &QTableWidget::itemSelectionChanged, this,
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
  CreateAudioChain();
  resize(700, 500);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  SkinListView1->hide();
  Image1->show();
  try {
    my_list_.Load();
  } catch (const EFileError& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
  SkinButton5->setChecked(true);
  SkinButton4->setChecked(false);
  Timer1->start();

  // What the user set last time: the volume, the play mode and where the window was.
  if (settings_) {
    VolumeBar->setValue(settings_->value(QStringLiteral("volume"), 0).toInt());
    bool sequential = settings_->value(QStringLiteral("sequential"), true).toBool();
    SkinButton5->setChecked(sequential);
    SkinButton4->setChecked(!sequential);
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

void TForm1::SaveSettings() {
  if (!settings_)
    return;
  settings_->setValue(QStringLiteral("volume"), VolumeBar->value());
  settings_->setValue(QStringLiteral("sequential"), SequentialMode());
  settings_->setValue(QStringLiteral("geometry"), saveGeometry());
  settings_->sync();
}

// --- Views and lists -----------------------------------------------------------------------

void TForm1::ShowList() {
  if (SkinListView1->isHidden()) {
    SkinListView1->show();
    Image1->hide();
  }
}

void TForm1::SkinHeaderListBox1Items12Click() {
  category_index_ = kHomeCategory;
  list_loads_.Begin();  // a list still loading is no longer wanted
  if (!SkinListView1->isHidden()) {
    SkinListView1->hide();
    Image1->show();
  }
}

void TForm1::SkinHeaderListBox1Items13Click() {
  if (!NamesAHost(config_.home_host)) {
    ShowError(QStringLiteral("No home site to visit: \"%1\" names no host. Start the player with "
                             "--home-host HOST, or set home-host in its settings file.")
                  .arg(QString::fromStdString(config_.home_host)));
    return;
  }
  const QString address = QString::fromStdString(HomePageAddress(config_.home_host));
  if (!QDesktopServices::openUrl(QUrl(address)))
    ShowError(QStringLiteral("Cannot open a browser on %1").arg(address));
}

void TForm1::ClearRows() { SkinListView1->setRowCount(0); }

void TForm1::AddRows(const std::vector<SongEntry>& songs) {
  // One resize and one repaint for the whole page rather than one per row.
  SkinListView1->setUpdatesEnabled(false);
  int row = SkinListView1->rowCount();
  SkinListView1->setRowCount(row + static_cast<int>(songs.size()));
  for (const SongEntry& song : songs) {
    auto put = [&](int column, const std::string& bytes) {
      auto* item = new QTableWidgetItem(FromGbkText(bytes));
      item->setData(kBytesRole, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
      SkinListView1->setItem(row, column, item);
    };
    put(kNameColumn, song.name);
    put(kUploaderColumn, song.uploader);
    put(kIdColumn, song.id);
    ++row;
  }
  SkinListView1->setUpdatesEnabled(true);
}

SongEntry TForm1::RowSong(int row) const {
  auto bytes = [&](int column) {
    QTableWidgetItem* item = SkinListView1->item(row, column);
    return item ? item->data(kBytesRole).toByteArray().toStdString() : std::string();
  };
  return SongEntry{bytes(kNameColumn), bytes(kUploaderColumn), bytes(kIdColumn)};
}

int TForm1::LowestSelectedRow() const {
  int lowest = -1;
  for (const QModelIndex& index : SkinListView1->selectionModel()->selectedRows())
    if (lowest < 0 || index.row() < lowest)
      lowest = index.row();
  return lowest;
}

void TForm1::SelectRow(int row) {
  if (row < 0 || row >= SkinListView1->rowCount()) {
    SkinListView1->clearSelection();
    return;
  }
  SkinListView1->selectRow(row);
  SkinListView1->scrollToItem(SkinListView1->item(row, kNameColumn));
}

bool TForm1::LoadList(ListKind kind, const std::string& address) {
  const ListLoadSequence::Ticket ticket = list_loads_.Begin();
  ClearRows();
  std::vector<SongEntry> songs;
  try {
    LoadListPage(address, kind, songs);
  } catch (const std::exception&) {
    // A page the patterns cannot take apart shows as an empty list, like a failed load.
    songs.clear();
  }
  if (!list_loads_.IsLatest(ticket))
    return false;  // a newer list command started while this one waited
  AddRows(songs);
  return true;
}

void TForm1::ParseCategoryPage(const std::string& address) {
  LoadList(ListKind::kCategory, address);
}

void TForm1::ParseSearchPage(const std::string& address) { LoadList(ListKind::kSearch, address); }

void TForm1::OpenCategory(int item_index) {
  if (item_index == category_index_)
    return;
  SkinHeaderListBox1->setCurrentRow(item_index);
  category_index_ = item_index;
  ShowList();
  if (!LoadList(ListKind::kCategory, CategoryFirstPageAddress(config_.catalogue_host, item_index)))
    return;
  page_url_template_ = CategoryTemplateAddress(config_.catalogue_host, item_index);
  current_page_ = 1;
  SkinEdit2->setText(QStringLiteral("1"));
}

void TForm1::SkinHeaderListBox1Items1Click() { OpenCategory(1); }
void TForm1::SkinHeaderListBox1Items2Click() { OpenCategory(2); }
void TForm1::SkinHeaderListBox1Items3Click() { OpenCategory(3); }
void TForm1::SkinHeaderListBox1Items4Click() { OpenCategory(4); }
void TForm1::SkinHeaderListBox1Items7Click() { OpenCategory(7); }
void TForm1::SkinHeaderListBox1Items8Click() { OpenCategory(8); }
void TForm1::SkinHeaderListBox1Items9Click() { OpenCategory(9); }
void TForm1::SkinHeaderListBox1Items10Click() { OpenCategory(10); }

void TForm1::SkinEdit1ButtonClick() {
  category_index_ = kSearchCategory;
  ShowList();
  if (!LoadList(ListKind::kSearch,
                SearchFirstPageAddress(config_.catalogue_host, ToGbkText(SkinEdit1->text()))))
    return;
  page_url_template_ = SearchTemplateAddress(config_.catalogue_host, ToGbkText(SkinEdit1->text()));
  current_page_ = 1;
}

void TForm1::Paging(PagingButton button) {
  std::optional<int> page;
  try {
    page = PagingTarget(button, category_index_, current_page_, SkinEdit2->text().toStdString());
  } catch (const EConvertError& error) {
    ShowError(QString::fromUtf8(error.what()));
    return;
  }
  if (!page)
    return;
  current_page_ = *page;
  SkinEdit2->setText(QString::number(*page));
  LoadList(category_index_ == kSearchCategory ? ListKind::kSearch : ListKind::kCategory,
           PageAddress(page_url_template_, *page));
}

void TForm1::SkinButton9Click() { Paging(PagingButton::kFirst); }
void TForm1::SkinButton6Click() { Paging(PagingButton::kPrevious); }
void TForm1::SkinButton7Click() { Paging(PagingButton::kNext); }
void TForm1::SkinButton8Click() { Paging(PagingButton::kGoTo); }

// --- The play list -------------------------------------------------------------------------

void TForm1::SkinHeaderListBox1Items5Click() {
  if (category_index_ == kMyListCategory)
    return;
  SkinHeaderListBox1->setCurrentRow(kMyListCategory);
  category_index_ = kMyListCategory;
  list_loads_.Begin();  // a list still loading must not add its rows to the play list view
  ShowList();
  ClearRows();
  std::vector<SongEntry> rows;
  for (const TMyListDj& entry : my_list_.MyList())
    rows.push_back(SongEntry{entry.name, entry.uploader, entry.id});
  AddRows(rows);
  SelectRow(my_list_.CurrentIndex());
}

void TForm1::SkinPopupMenu2Popup() {
  N3->setEnabled(category_index_ != kMyListCategory);
  N4->setEnabled(category_index_ == kMyListCategory);
  N1->setEnabled(category_index_ == kMyListCategory);
}

void TForm1::N3Click() {
  int row = LowestSelectedRow();
  if (row < 0)
    return;
  try {
    my_list_.Add(RowSong(row));
  } catch (const EFileError& error) {
    // The entry stays in memory and is played: only the file is behind.
    ShowError(QString::fromUtf8(error.what()));
  }
  PlayCurrent();
}

void TForm1::N4Click() {
  if (category_index_ != kMyListCategory)
    return;
  int row = LowestSelectedRow();
  if (row >= 0) {
    my_list_.DeleteMyListEntry(row);
    SkinListView1->removeRow(row);
  }
  try {
    my_list_.SaveMyList();
  } catch (const EFileError& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
}

void TForm1::N1Click() {
  if (category_index_ != kMyListCategory)
    return;
  ClearRows();
  try {
    my_list_.Clear();
  } catch (const EFileError& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
  SkinPaintPanel1->update();
}

void TForm1::SkinListView1DblClick() {
  if (category_index_ != kMyListCategory) {
    N3Click();
    return;
  }
  int row = LowestSelectedRow();
  if (row < 0)
    return;
  my_list_.SetCurrentIndex(row);
  PlayCurrent();
}

void TForm1::SkinListView1SelectItem() {}

// --- Messages --------------------------------------------------------------------------------

void TForm1::ShowError(const QString& message) {
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

}  // namespace djkivo::app
