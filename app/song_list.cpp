#include "app/song_list.h"

#include <QColor>
#include <QHeaderView>
#include <QResizeEvent>

#include <algorithm>

#include "app/core/catalogue_browser.h"
#include "app/core/font_highlight.h"
#include "app/gbk_qstring.h"

namespace djkivo::app {

namespace {

// How far the list's message stands below the header, in pixels.
constexpr int kMessageTop = 24;

std::string_view Field(const SongRow& row, int column) {
  switch (column) {
    case TSongListModel::kNameColumn:
      return row.name;
    case TSongListModel::kUploaderColumn:
      return row.uploader;
    default:
      return row.id;
  }
}

}  // namespace

QString ShownSongName(std::string_view gbk_name) {
  return FromGbkText(SplitFontHighlight(gbk_name).text);
}

TSongListModel::TSongListModel(const CatalogueBrowser& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), row_count_(rows.RowCount()) {}

int TSongListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : row_count_;
}

int TSongListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 3;
}

QVariant TSongListModel::data(const QModelIndex& index, int role) const {
  // Between a change in the browser and its notice the view may ask for a row that is gone.
  if (!index.isValid() || index.row() >= rows_.RowCount())
    return {};
  const std::string_view bytes = Field(rows_.Row(index.row()), index.column());
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == kNameColumn ? ShownSongName(bytes) : FromGbkText(std::string(bytes));
    case Qt::ForegroundRole: {
      if (index.column() != kNameColumn)
        return {};
      const QColor colour(QString::fromStdString(SplitFontHighlight(bytes).colour));
      return colour.isValid() ? QVariant(colour) : QVariant();
    }
    case kBytesRole:
      return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    default:
      return {};
  }
}

QVariant TSongListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return {};
  switch (section) {
    case kNameColumn:
      return QStringLiteral("歌曲名称");
    case kUploaderColumn:
      return QStringLiteral("上传者");
    case kIdColumn:
      return QStringLiteral("id");
    default:
      return {};
  }
}

void TSongListModel::Reset() {
  beginResetModel();
  row_count_ = rows_.RowCount();
  endResetModel();
}

void TSongListModel::Inserted(int first, int count) {
  beginInsertRows({}, first, first + count - 1);
  row_count_ += count;
  endInsertRows();
}

void TSongListModel::Removed(int row) {
  beginRemoveRows({}, row, row);
  --row_count_;
  endRemoveRows();
}

TSongListView::TSongListView(QWidget* parent) : QTableView(parent) {
  message_ = new QLabel(viewport());
  message_->setObjectName(QStringLiteral("SkinListView1Message"));
  message_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  message_->setWordWrap(true);
  message_->setAttribute(Qt::WA_TransparentForMouseEvents);
  message_->setStyleSheet(QStringLiteral("background: transparent; color: #8a909c;"));
  message_->hide();
}

void TSongListView::ShowMessage(const QString& text) {
  message_->setText(text);
  message_->setVisible(!text.isEmpty());
  message_->setGeometry(0, kMessageTop, viewport()->width(), viewport()->height() - kMessageTop);
}

void TSongListView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  FitColumns();
  message_->setGeometry(0, kMessageTop, viewport()->width(), viewport()->height() - kMessageTop);
}

void TSongListView::FitColumns() {
  const int name = viewport()->width() - columnWidth(TSongListModel::kUploaderColumn);
  setColumnWidth(TSongListModel::kNameColumn, std::max(kNameWidth, name));
}

}  // namespace djkivo::app
