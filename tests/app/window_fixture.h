// A real window on the demo site: the fixture the window's tests share.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <QListWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "app/core/fetch_page.h"
#include "app/load_waiter.h"
#include "app/main_form.h"
#include "app/qt_main_thread.h"
#include "app/song_list.h"
#include "audio/media_stream_in.h"
#include "audio/output/sound_out.h"
#include "demo/demo_site.h"
#include "tests/app/qt_test_application.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {

using namespace std::chrono_literals;

inline constexpr OutputStatus kPlaying = OutputStatus::kPlaying;
inline constexpr OutputStatus kPaused = OutputStatus::kPaused;
inline constexpr OutputStatus kIdle = OutputStatus::kIdle;

/// Each test gets its own main thread binding, waiter, demo site (short songs, so a list plays
/// through in seconds) and play list folder. The demo songs, encoded on first use, are kept in
/// the build tree and shared by every test program (the site writes them atomically).
class WindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { TestApplication(); }

  void SetUp() override {
    main_thread_ = std::make_unique<QtMainThread>();
    MainThread::Install(main_thread_.get());
    waiter_ = std::make_unique<QtLoadWaiter>([this] { QuitDuringLoad(); });
    Waiter::Install(waiter_.get());
    demo::DemoSiteOptions options;
    options.song_length = SongLength();
    options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
    site_ = std::make_unique<demo::DemoSite>(options);
    site_->Start();
  }

  void TearDown() override {
    form_.reset();
    Waiter::Install(nullptr);
    waiter_.reset();
    site_->Stop();
    main_thread_->Close();
    MainThread::Install(nullptr);
    main_thread_.reset();
  }

  /// What the waiter does when the application quits during a load; the program ends there,
  /// a test records it and makes the load end by stopping the site.
  virtual void QuitDuringLoad() {
    quit_during_load_ = std::chrono::steady_clock::now();
    site_->Stop();
  }

  std::string PlayListPath() const { return (folder_.Path() / "mylist.txt").string(); }

  /// The window, shown; `device` as the option takes it.
  TForm1& MakeForm(const std::string& device = "null") {
    TForm1Config config;
    config.catalogue_host = CatalogueHost();
    config.home_host = site_->HostPort();
    config.my_list_file_name = PlayListPath();
    config.device = device;
    config.error_box = [this](const QString& message) { errors_.push_back(message.toStdString()); };
    config.info_box = [this](const QString& message) { infos_.push_back(message.toStdString()); };
    Configure(config);
    form_ = std::make_unique<TForm1>(std::move(config));
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    return *form_;
  }

  /// Changes the configuration `MakeForm` is about to make the window with (a sound device of
  /// the test's own, say).
  virtual void Configure(TForm1Config&) {}

  virtual std::string CatalogueHost() const { return site_->HostPort(); }
  /// Short songs by default, so a list plays through in seconds.
  virtual demo::SongLength SongLength() const { return demo::SongLength::kShort; }

  /// Clicks category item `index` as a user does.
  void ClickCategory(int index) {
    QListWidget* list = form_->SkinHeaderListBox1;
    QRect rect = list->visualItemRect(list->item(index));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }

  /// Double-clicks row `row` of the song list as a user does.
  void DoubleClickRow(int row) {
    QTableView* table = form_->SkinListView1;
    QRect rect = table->visualRect(table->model()->index(row, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, rect.center());
  }

  void SelectRow(int row) { form_->SkinListView1->selectRow(row); }

  int Rows() const { return form_->SkinListView1->model()->rowCount(); }
  /// The stored bytes of a cell of the song list.
  std::string RowBytes(int row, int column) const {
    const QAbstractItemModel* model = form_->SkinListView1->model();
    return model->data(model->index(row, column), TSongListModel::kBytesRole)
        .toByteArray()
        .toStdString();
  }

  std::string ReadPlayList() const { return test::ReadFileBytes(PlayListPath()); }
  void WritePlayList(const std::string& bytes) const { folder_.Write("mylist.txt", bytes); }

  /// The play list file's line of a demo song.
  static std::string PlayListLine(const demo::DemoSong& song) {
    return song.name + "|" + song.uploader + "|" + song.id + "\r\n";
  }
  /// A play list file of the first `count` demo songs.
  std::string PlayListOfDemoSongs(int count) const {
    std::string bytes;
    for (int i = 0; i < count; ++i)
      bytes += PlayListLine(site_->Catalogue().Songs()[i]);
    return bytes;
  }

  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
    return ProcessEventsUntil(done, timeout);
  }

  std::unique_ptr<QtMainThread> main_thread_;
  std::unique_ptr<QtLoadWaiter> waiter_;
  std::unique_ptr<demo::DemoSite> site_;
  test::TempFolder folder_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> errors_;
  std::vector<std::string> infos_;
  std::chrono::steady_clock::time_point quit_during_load_{};
};

}  // namespace djkivo::app
