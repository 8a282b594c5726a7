// The window on the demo site over HTTPS, as `djkivo --demo --tls` runs it: the list pages, the
// play page and the stream all go over TLS, checked against the site's throwaway CA; without
// that trust nothing loads.
#include "app/status_panel.h"
#include "net/network_settings.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

class WindowTlsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    site_->Stop();
    demo::DemoSiteOptions options;
    options.song_length = demo::SongLength::kShort;
    options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
    options.throwaway_tls = true;
    site_ = std::make_unique<demo::DemoSite>(options);
    site_->Start();
  }
  void TearDown() override {
    WindowTest::TearDown();
    net::InstallNetworkSettings({});
  }
  std::string CatalogueHost() const override { return site_->BaseAddress(); }
  void Configure(TForm1Config& config) override { config.home_host = site_->BaseAddress(); }
};

TEST_F(WindowTlsTest, BrowsesAndPlaysOverHttps) {
  net::InstallNetworkSettings({.proxy = "", .ca_file = site_->CaFile()});
  TForm1& form = MakeForm();
  ClickCategory(1);
  ASSERT_TRUE(WaitFor([&] { return Rows() > 0; }));
  DoubleClickRow(0);
  EXPECT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPlaying; }));
  EXPECT_TRUE(form.MediaStreamIn1->FileName().starts_with(site_->BaseAddress() + "/audio/"))
      << form.MediaStreamIn1->FileName();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

// The refused certificate in the user's words, where a list page's failure shows (the list
// area) and where a play page's does (the status line).
TEST_F(WindowTlsTest, WithoutTheSitesCaNothingLoadsAndTheWindowSaysWhy) {
  const std::string why =
      "The certificate of 127.0.0.1 was issued by an unknown authority (\"DJKivo demo site CA "
      "(this run only)\"), or the server did not send the certificates between them.";
  WritePlayList(PlayListOfDemoSongs(2));
  TForm1& form = MakeForm();
  ClickCategory(1);
  EXPECT_TRUE(WaitFor([&] { return form.SkinListView1->Message().startsWith("加载失败"); }))
      << form.SkinListView1->Message().toStdString();
  EXPECT_EQ(form.SkinListView1->Message().toStdString(), "加载失败：" + why);
  EXPECT_EQ(Rows(), 0);

  ClickCategory(5);  // the play list: its rows need no page
  ASSERT_EQ(Rows(), 2);
  DoubleClickRow(0);
  const auto status = [&] { return form.SkinStatusPanel1->text().toStdString(); };
  EXPECT_TRUE(WaitFor([&] { return !status().empty(); })) << "nothing on the status line";
  EXPECT_TRUE(status().starts_with("无法播放《")) << status();
  EXPECT_TRUE(status().ends_with("》：" + why)) << status();
  EXPECT_NE(form.SoundOut1->Status(), kPlaying);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(site_->TotalRequests(), 0);  // every handshake failed: no request was ever sent
}

}  // namespace
}  // namespace djkivo::app
