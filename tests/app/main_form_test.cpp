// The window's start-up state, category and search lists, paging and the play list view, on
// real widgets against the demo site.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

std::string PageTarget(const std::string& word, int page) {
  return "/dance/sort/" + word + "_" + std::to_string(page) + ".html";
}

using MainFormTest = WindowTest;

TEST_F(MainFormTest, StartsOnTheHomePictureWithTheLayoutsDefaults) {
  TForm1& form = MakeForm();
  EXPECT_EQ(form.windowTitle().toStdString(), "DJKivo云播放");
  EXPECT_EQ(form.size(), QSize(700, 500));
  EXPECT_EQ(form.CategoryIndex(), -1);
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_EQ(form.CurrentPage(), 1);
  EXPECT_TRUE(form.PageUrlTemplate().empty());
  EXPECT_TRUE(form.MyList().MyList().empty());
  EXPECT_EQ(form.MyList().MyListFileName(), PlayListPath());

  EXPECT_TRUE(form.SkinListView1->isHidden());
  EXPECT_TRUE(form.Image1->isVisible());
  EXPECT_TRUE(form.PlayButton->isVisible());
  EXPECT_TRUE(form.PauseButton->isHidden());
  EXPECT_TRUE(form.SkinButton5->isChecked());
  EXPECT_FALSE(form.SkinButton4->isChecked());
  EXPECT_EQ(form.VolumeBar->minimum(), -4000);
  EXPECT_EQ(form.VolumeBar->maximum(), 0);
  EXPECT_EQ(form.VolumeBar->value(), 0);
  EXPECT_EQ(form.SkinTrackBar1->minimum(), 0);
  EXPECT_EQ(form.SkinTrackBar1->maximum(), 100);
  EXPECT_EQ(form.SkinTrackBar1->value(), 50);
  EXPECT_FALSE(form.SkinTrackBar1->isEnabled());
  EXPECT_EQ(form.SkinEdit1->text().toStdString(), "狗尾草");
  EXPECT_EQ(form.SkinEdit2->text().toStdString(), "1");
  EXPECT_EQ(form.SkinButton3->toolTip().toStdString(), "关于");
  EXPECT_EQ(form.SkinButton5->toolTip().toStdString(), "顺序播放");
  EXPECT_EQ(form.SkinButton4->toolTip().toStdString(), "随机播放");
  const std::pair<QPushButton*, const char*> paging[] = {{form.SkinButton9, "首页"},
                                                         {form.SkinButton6, "上一页"},
                                                         {form.SkinButton7, "下一页"},
                                                         {form.SkinButton8, "跳转"}};
  for (const auto& [button, caption] : paging)
    EXPECT_EQ(button->text().toStdString(), caption);

  const char* items[] = {"排行菜单", "最新推荐",   "每月排行", "下载排行", "年度排行",
                         "我的列表", "舞曲分类",   "串烧舞曲", "中文舞曲", "国外舞曲",
                         "原创舞曲", "关于云播放", "播放首页", "访问官方"};
  ASSERT_EQ(form.SkinHeaderListBox1->count(), 14);
  for (int i = 0; i < 14; ++i)
    EXPECT_EQ(form.SkinHeaderListBox1->item(i)->text().toStdString(), items[i]) << i;
  EXPECT_EQ(form.SkinHeaderListBox1->currentRow(), 1);

  ASSERT_EQ(form.SkinListView1->model()->columnCount(), 3);
  const char* columns[] = {"歌曲名称", "上传者", "id"};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(form.SkinListView1->model()->headerData(i, Qt::Horizontal).toString().toStdString(),
              columns[i]);
  EXPECT_TRUE(form.SkinListView1->isColumnHidden(2));
  EXPECT_EQ(form.SkinListView1->columnWidth(0), 400);
  EXPECT_EQ(form.SkinListView1->columnWidth(1), 100);

  std::vector<std::string> tray;
  for (QAction* action : form.findChild<QMenu*>("SkinPopupMenu1")->actions())
    tray.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  EXPECT_EQ(tray, (std::vector<std::string>{"打开主界面", "-", "上一首", "下一首", "-", "播放/暂停",
                                            "-", "退出"}));
  std::vector<std::string> context;
  for (QAction* action : form.findChild<QMenu*>("SkinPopupMenu2")->actions())
    context.push_back(action->text().toStdString());
  EXPECT_EQ(context,
            (std::vector<std::string>{"加入到播放列表", "删除该播放记录", "清空播放列表"}));

  EXPECT_EQ(site_->TotalRequests(), 0);  // nothing is read until the user acts
  EXPECT_TRUE(errors_.empty());

  QTest::mouseClick(form.SkinButton3, Qt::LeftButton);  // "关于"
  ASSERT_EQ(infos_.size(), 1u);
  EXPECT_EQ(infos_[0].rfind("DJKivo云播放器!\n最嗨，最全，最好听的DJ音乐！尽在DJ云!\n", 0), 0u);
}

TEST_F(MainFormTest, StartUpLoadsThePlayListFileWithoutChoosingASong) {
  WritePlayList(PlayListOfDemoSongs(3) + "no separator line\r\n\r\na|b|c|d\r\n");
  TForm1& form = MakeForm();
  ASSERT_EQ(form.MyList().MyList().size(), 4u);
  EXPECT_EQ(form.MyList().MyList()[3], (TMyListDj{"a", "b", "c"}));
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_TRUE(form.SkinListView1->isHidden());
  EXPECT_EQ(site_->TotalRequests(), 0);
}

TEST_F(MainFormTest, ACategoryClickShowsItsFirstPageOnceAndHomeHidesIt) {
  TForm1& form = MakeForm();
  ClickCategory(1);
  EXPECT_EQ(form.CategoryIndex(), 1);
  EXPECT_TRUE(form.SkinListView1->isVisible());
  EXPECT_TRUE(form.Image1->isHidden());
  ASSERT_EQ(Rows(), demo::kRowsPerPage);
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend", 1)), 1);
  const demo::DemoCategory& category = demo::DemoCatalogue::Categories()[0];
  std::vector<const demo::DemoSong*> songs = site_->Catalogue().CategoryPage(category, 1);
  for (int row : {0, 29}) {
    EXPECT_EQ(RowBytes(row, 2), songs[row]->id);
    EXPECT_EQ(RowBytes(row, 1), songs[row]->uploader);
  }
  EXPECT_EQ(form.PageUrlTemplate(),
            "http://" + site_->HostPort() + "/dance/sort/recommend_[page].html");

  ClickCategory(1);  // already shown: no request
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend", 1)), 1);

  ClickCategory(10);
  EXPECT_EQ(form.CategoryIndex(), 10);
  EXPECT_EQ(site_->RequestCount(PageTarget("remix", 1)), 1);

  ClickCategory(12);  // "播放首页"
  EXPECT_EQ(form.CategoryIndex(), -1);
  EXPECT_TRUE(form.SkinListView1->isHidden());
  EXPECT_TRUE(form.Image1->isVisible());
  ClickCategory(0);  // a header: nothing
  EXPECT_EQ(form.CategoryIndex(), -1);

  ClickCategory(10);  // shown again after the home picture: loaded again
  EXPECT_EQ(site_->RequestCount(PageTarget("remix", 1)), 2);
}

TEST_F(MainFormTest, SearchSendsTheGbkKeywordPercentEncoded) {
  TForm1& form = MakeForm();
  form.SkinEdit1->setText(QString::fromUtf8("狗尾草"));
  form.SkinEdit1ButtonClick();
  EXPECT_EQ(form.CategoryIndex(), 0);
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=1&keyword=%B9%B7%CE%B2%B2%DD&keytype=1"), 1);
  EXPECT_EQ(form.PageUrlTemplate(),
            "http://" + site_->HostPort() +
                "/search.html?pageid=[page]&keyword=%B9%B7%CE%B2%B2%DD&keytype=1");

  form.SkinEdit1->setText(QStringLiteral("dj mix"));
  QTest::keyClick(form.SkinEdit1, Qt::Key_Return);  // Enter searches too
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=1&keyword=dj+mix&keytype=1"), 1);

  form.SkinEdit1->clear();
  form.SkinEdit1ButtonClick();
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=1&keyword=&keytype=1"), 1);
  EXPECT_GT(Rows(), 0);  // an empty keyword lists every song

  // Search results of the keyword carry names without the highlighting tags.
  form.SkinEdit1->setText(QString::fromUtf8("狗尾草"));
  form.SkinEdit1ButtonClick();
  for (int row = 0; row < Rows(); ++row)
    EXPECT_EQ(RowBytes(row, 0).find('<'), std::string::npos) << RowBytes(row, 0);
}

TEST_F(MainFormTest, PagingFollowsItsRules) {
  TForm1& form = MakeForm();
  form.SkinButton7Click();  // home picture: inert
  EXPECT_EQ(site_->TotalRequests(), 0);

  ClickCategory(2);
  ASSERT_EQ(site_->RequestCount(PageTarget("recommend_month", 1)), 1);
  int before = site_->TotalRequests();
  QTest::mouseClick(form.SkinButton6, Qt::LeftButton);  // "上一页" on page 1: nothing at all
  EXPECT_EQ(site_->TotalRequests(), before);
  EXPECT_EQ(form.CurrentPage(), 1);

  QTest::mouseClick(form.SkinButton7, Qt::LeftButton);
  EXPECT_EQ(form.CurrentPage(), 2);
  EXPECT_EQ(form.SkinEdit2->text().toStdString(), "2");
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend_month", 2)), 1);
  EXPECT_EQ(Rows(), demo::kRowsPerPage);

  const int past_last = demo::kCategoryPages + 1;
  form.SkinEdit2->setText(QString::number(past_last));
  QTest::mouseClick(form.SkinButton8, Qt::LeftButton);
  EXPECT_EQ(form.CurrentPage(), past_last);
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend_month", past_last)), 1);
  EXPECT_EQ(Rows(), 0);
  QTest::mouseClick(form.SkinButton7, Qt::LeftButton);  // no upper limit
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend_month", past_last + 1)), 1);
  QTest::mouseClick(form.SkinButton6, Qt::LeftButton);
  EXPECT_EQ(form.CurrentPage(), past_last);

  const struct {
    const char* box;
    int page;
  } goto_cases[] = {{"0", 1}, {"-3", 1}, {" 3", 3}, {"$4", 4}, {"0x2", 2}};
  for (const auto& c : goto_cases) {
    form.SkinEdit2->setText(QString::fromUtf8(c.box));
    form.SkinButton8Click();
    EXPECT_EQ(form.CurrentPage(), c.page) << c.box;
    EXPECT_EQ(form.SkinEdit2->text().toStdString(), std::to_string(c.page)) << c.box;
  }
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend_month", 1)), 3);

  before = site_->TotalRequests();
  form.SkinEdit2->setText(QStringLiteral("abc"));
  form.SkinButton8Click();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "'abc' is not a valid integer value");
  EXPECT_EQ(form.CurrentPage(), 2);
  EXPECT_EQ(form.SkinEdit2->text().toStdString(), "abc");
  EXPECT_EQ(site_->TotalRequests(), before);

  QTest::mouseClick(form.SkinButton9, Qt::LeftButton);  // "首页"
  EXPECT_EQ(form.CurrentPage(), 1);
  EXPECT_EQ(site_->RequestCount(PageTarget("recommend_month", 1)), 4);

  // Paging a search uses the search template.
  form.SkinEdit1->setText(QStringLiteral("a"));
  form.SkinEdit1ButtonClick();
  form.SkinButton7Click();
  EXPECT_EQ(site_->RequestCount("/search.html?pageid=2&keyword=a&keytype=1"), 1);

  ClickCategory(5);  // the play list view: paging is inert
  before = site_->TotalRequests();
  form.SkinButton7Click();
  form.SkinButton9Click();
  EXPECT_EQ(site_->TotalRequests(), before);
}

TEST_F(MainFormTest, TheNewestListCommandWinsOverASlowerLoad) {
  TForm1& form = MakeForm();
  // The first category's page stalls; while it waits the user opens another category.
  site_->SetPageFaults(demo::ParseFaults("stall=2"));
  QTimer::singleShot(200, [&] {
    site_->SetPageFaults({});
    ClickCategory(7);
  });
  ClickCategory(1);  // returns once both loads have ended
  EXPECT_EQ(form.CategoryIndex(), 7);
  EXPECT_EQ(form.PageUrlTemplate(),
            "http://" + site_->HostPort() + "/dance/sort/Kushiyaki_[page].html");
  ASSERT_EQ(Rows(), demo::kRowsPerPage);
  const demo::DemoCategory& kushiyaki = demo::DemoCatalogue::Categories()[4];
  EXPECT_EQ(RowBytes(0, 2), site_->Catalogue().CategoryPage(kushiyaki, 1)[0]->id);
}

TEST_F(MainFormTest, AFailedLoadLeavesAnEmptyListWithoutAMessage) {
  TForm1& form = MakeForm();
  ClickCategory(3);
  ASSERT_EQ(Rows(), demo::kRowsPerPage);
  site_->SetPageFaults(demo::ParseFaults("404"));
  form.SkinButton7Click();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(form.CurrentPage(), 2);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MainFormTest, ContextMenuCommandsAreEnabledByTheView) {
  TForm1& form = MakeForm();
  QMenu* menu = form.findChild<QMenu*>("SkinPopupMenu2");
  auto enabled = [&] {
    form.SkinPopupMenu2Popup();
    std::vector<bool> states;
    for (QAction* action : menu->actions())
      states.push_back(action->isEnabled());
    return states;
  };
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false}));
  ClickCategory(5);
  EXPECT_EQ(enabled(), (std::vector<bool>{false, true, true}));
  ClickCategory(4);
  EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false}));
}

TEST_F(MainFormTest, DeleteAndClearInThePlayListViewKeepFileAndIndexInStep) {
  WritePlayList(PlayListOfDemoSongs(4));
  TForm1& form = MakeForm();
  const auto songs = form.MyList().MyList();
  ClickCategory(5);
  ASSERT_EQ(Rows(), 4);
  EXPECT_TRUE(form.SkinListView1->selectionModel()->selectedRows().isEmpty());  // CurrentIndex -1

  auto line = [&](int i) {
    return songs[i].name + "|" + songs[i].uploader + "|" + songs[i].id + "\r\n";
  };
  form.N4Click();  // nothing selected: nothing removed, the file is still written
  EXPECT_EQ(ReadPlayList(), line(0) + line(1) + line(2) + line(3));

  DoubleClickRow(2);  // plays entry 2
  EXPECT_EQ(form.CurrentIndex(), 2);
  SelectRow(0);
  form.N4Click();  // an entry before the current one: the index follows its song
  EXPECT_EQ(form.CurrentIndex(), 1);
  EXPECT_EQ(Rows(), 3);
  EXPECT_EQ(ReadPlayList(), line(1) + line(2) + line(3));
  SelectRow(1);
  form.N4Click();  // the current entry: the index moves to the one before it
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(ReadPlayList(), line(1) + line(3));
  EXPECT_EQ(RowBytes(1, 2), songs[3].id);

  ClickCategory(1);
  SelectRow(0);
  form.N4Click();  // outside the play list view: nothing
  form.N1Click();
  EXPECT_EQ(form.MyList().MyList().size(), 2u);

  ClickCategory(5);
  form.N1Click();
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(form.MyList().MyList().empty());
  EXPECT_EQ(form.CurrentIndex(), -1);
  EXPECT_EQ(ReadPlayList(), "");
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MainFormTest, AnUnwritablePlayListShowsItsMessageAndTheSongStillPlays) {
  TForm1& form = MakeForm();
  std::filesystem::create_directory(PlayListPath());  // a folder where the file should go
  ClickCategory(1);
  DoubleClickRow(0);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].rfind("Cannot create file \"" + PlayListPath() + "\".", 0), 0u)
      << errors_[0];
  EXPECT_EQ(form.MyList().MyList().size(), 1u);
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(site_->RequestCount("/dance/play/" + RowBytes(0, 2) + ".html"), 1);
}

TEST_F(MainFormTest, ModeButtonsAreExclusiveAndSettingsSurviveARestart) {
  TForm1Config config;
  config.catalogue_host = site_->HostPort();
  config.my_list_file_name = PlayListPath();
  config.device = "null";
  config.settings_file = QString::fromStdString((folder_.Path() / "djkivo.ini").string());
  {
    TForm1 form(config);
    QTest::mouseClick(form.SkinButton4, Qt::LeftButton);
    EXPECT_TRUE(form.SkinButton4->isChecked());
    EXPECT_FALSE(form.SkinButton5->isChecked());
    QTest::mouseClick(form.SkinButton4, Qt::LeftButton);  // clicking the down one keeps it down
    EXPECT_TRUE(form.SkinButton4->isChecked());
    form.VolumeBar->setValue(-4000);
    EXPECT_EQ(form.SoundOut1->Volume(), -4000);
    form.close();
  }
  TForm1 again(config);
  EXPECT_TRUE(again.SkinButton4->isChecked());
  EXPECT_FALSE(again.SkinButton5->isChecked());
  EXPECT_EQ(again.VolumeBar->value(), -4000);
  EXPECT_EQ(again.SoundOut1->Volume(), -4000);
}

}  // namespace
}  // namespace djkivo::app
