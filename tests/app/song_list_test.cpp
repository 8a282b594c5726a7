// The song list on real widgets: the site's FONT highlight drawn as colour, the stored bytes kept,
// the name column filling the width, and the list area's own words.
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QTimer>

#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

using SongListTest = WindowTest;

// The first row of the song list whose stored name carries the site's highlight.
int HighlightedRow(const QAbstractItemModel& model) {
  for (int row = 0; row < model.rowCount(); ++row) {
    const QByteArray bytes =
        model.data(model.index(row, TSongListModel::kNameColumn), TSongListModel::kBytesRole)
            .toByteArray();
    if (bytes.startsWith("<FONT COLOR="))
      return row;
  }
  return -1;
}

TEST_F(SongListTest, AHighlightedNameIsDrawnInItsColourAndStoredAsMatched) {
  TForm1& form = MakeForm();
  ClickCategory(1);
  const QAbstractItemModel& model = *form.SkinListView1->model();
  const int row = HighlightedRow(model);
  ASSERT_GE(row, 0) << "the demo's first page has a highlighted name";
  const QModelIndex name = model.index(row, TSongListModel::kNameColumn);
  const std::string stored = RowBytes(row, 0);
  EXPECT_EQ(model.data(name).toString().indexOf(QStringLiteral("FONT"), 0, Qt::CaseInsensitive),
            -1);
  EXPECT_EQ(model.data(name, Qt::ForegroundRole).value<QColor>(), QColor(0xFF, 0, 0));
  EXPECT_FALSE(model.data(model.index(row, 1), Qt::ForegroundRole).isValid());

  // Drawn in red: the row's name cell holds red text once painted (not selected).
  form.SkinListView1->clearSelection();
  form.SkinListView1->scrollTo(name);
  const QImage cell =
      form.SkinListView1->viewport()->grab(form.SkinListView1->visualRect(name)).toImage();
  int red = 0;
  for (int y = 0; y < cell.height(); ++y)
    for (int x = 0; x < cell.width(); ++x) {
      const QColor pixel = cell.pixelColor(x, y);
      red += pixel.red() > 150 && pixel.green() < 80 && pixel.blue() < 80;
    }
  EXPECT_GT(red, 10);

  // Kept byte for byte: in the play list, in its file, in the play list view.
  form.SkinListView1->selectRow(row);
  form.N3Click();
  EXPECT_EQ(form.MyList().MyList().back().name, stored);
  EXPECT_EQ(ReadPlayList().find(stored + "|"), 0u);
  ClickCategory(5);
  EXPECT_EQ(RowBytes(0, 0), stored);
}

TEST_F(SongListTest, TheNameColumnFillsTheWidthTheUploaderLeaves) {
  TForm1& form = MakeForm();
  ClickCategory(2);
  QTableView& table = *form.SkinListView1;
  const int at_default = table.columnWidth(0);
  EXPECT_GE(at_default, 400);
  EXPECT_EQ(at_default + table.columnWidth(1), table.viewport()->width());
  form.resize(1000, 600);
  ASSERT_TRUE(WaitFor([&] { return table.columnWidth(0) > at_default; }, 5s));
  EXPECT_EQ(table.columnWidth(0) + table.columnWidth(1), table.viewport()->width());
  EXPECT_EQ(table.columnWidth(1), 100);
  form.resize(500, 400);  // narrower than the layout: the name keeps its 400
  ASSERT_TRUE(WaitFor([&] { return table.columnWidth(0) == 400; }, 5s));
}

TEST_F(SongListTest, TheListAreaSaysWhenItLoadsFailsOrFindsNothing) {
  TForm1& form = MakeForm();
  TSongListView& list = *form.SkinListView1;
  // Loading: seen while the page waits.
  QString while_loading;
  site_->SetPageFaults(demo::ParseFaults("stall=1"));
  QTimer::singleShot(300, [&] { while_loading = list.Message(); });
  ClickCategory(3);
  EXPECT_EQ(while_loading.toStdString(), "正在加载…");
  EXPECT_TRUE(list.Message().isEmpty());
  EXPECT_EQ(Rows(), demo::kRowsPerPage);

  // Failed: the reason over the empty list, no box; the same category loads again when clicked.
  site_->SetPageFaults(demo::ParseFaults("404"));
  form.SkinButton7Click();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(list.Message().toStdString(), "加载失败：HTTP/1.1 404 Not Found");
  EXPECT_TRUE(errors_.empty());
  site_->SetPageFaults({});
  const int before = site_->RequestCount("/dance/sort/recommend_download_1.html");
  ClickCategory(3);
  EXPECT_EQ(site_->RequestCount("/dance/sort/recommend_download_1.html"), before + 1);
  EXPECT_EQ(Rows(), demo::kRowsPerPage);
  EXPECT_TRUE(list.Message().isEmpty());

  // A search without hits keeps its empty list and says so.
  form.SkinEdit1->setText(QStringLiteral("no such song anywhere"));
  form.SkinEdit1ButtonClick();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(list.Message().toStdString(), "没有找到歌曲");
  ClickCategory(5);
  EXPECT_TRUE(list.Message().isEmpty());
}

TEST_F(SongListTest, AtTheDefaultSizeEveryCategoryShowsAndNoEmptyStripIsDrawn) {
  TForm1& form = MakeForm();
  EXPECT_FALSE(form.SkinMainMenuBar1->isVisible());
  QListWidget& categories = *form.SkinHeaderListBox1;
  EXPECT_FALSE(categories.verticalScrollBar()->isVisible());
  const QRect last = categories.visualItemRect(categories.item(categories.count() - 1));
  EXPECT_LE(last.bottom(), categories.viewport()->rect().bottom());
  EXPECT_EQ(categories.item(categories.count() - 1)->text().toStdString(), "访问官方");
}

}  // namespace
}  // namespace djkivo::app
