// The song list (`SkinListView1`): a table view over the controller's rows, through a model that
// hands the view only the rows it lays out, so a play list of any length shows at once.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QString>
#include <QTableView>

#include <string_view>

namespace djkivo::app {

class CatalogueBrowser;

/// A song name as the window draws it: the site's FONT highlight taken out (its colour goes to
/// the row's text colour), the GBK bytes converted. Display only.
QString ShownSongName(std::string_view gbk_name);

/// The song list's three columns over `CatalogueBrowser`'s rows: "歌曲名称", "上传者" and "id".
/// Cells are made when the view asks for them; nothing is copied per row. The display role is the
/// text shown; `kBytesRole` the field's stored GBK bytes, exactly. GUI thread only.
///
/// The browser changes its rows first and tells the model afterwards (`Reset`, `Inserted`,
/// `Removed`), so the model keeps its own row count to tell the view what it had.
class TSongListModel final : public QAbstractTableModel {
 public:
  static constexpr int kNameColumn = 0;
  static constexpr int kUploaderColumn = 1;
  static constexpr int kIdColumn = 2;
  /// The field's GBK bytes as a QByteArray.
  static constexpr int kBytesRole = Qt::UserRole;

  TSongListModel(const CatalogueBrowser& rows, QObject* parent);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  /// The rows were replaced / rows `first`..`first + count - 1` were inserted / row `row` was
  /// removed, in the browser.
  void Reset();
  void Inserted(int first, int count);
  void Removed(int row);

 private:
  const CatalogueBrowser& rows_;
  int row_count_ = 0;  // what the view was last told
};

/// The table view of the song list: the name column fills the width the uploader column leaves
/// (never narrower than its layout width of 400), and a line of text over the rows says what the
/// list has to say (loading, failed, nothing found).
class TSongListView final : public QTableView {
 public:
  static constexpr int kNameWidth = 400;
  static constexpr int kUploaderWidth = 100;

  explicit TSongListView(QWidget* parent);

  /// The text over the rows; empty hides it.
  void ShowMessage(const QString& text);
  QString Message() const { return message_->text(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitColumns();

  QLabel* message_ = nullptr;
};

}  // namespace djkivo::app
