// The window on the demo site over HTTPS, as `djkivo --demo --tls` runs it: the list pages, the
// play page and the stream all go over TLS, checked against the site's throwaway CA; without
// that trust nothing loads.
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

TEST_F(WindowTlsTest, WithoutTheSitesCaNothingLoads) {
  MakeForm();
  ClickCategory(1);
  WaitFor([&] { return site_->TotalRequests() > 0; }, 5s);
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(site_->TotalRequests(), 0);  // the handshake failed: no request was ever sent
}

}  // namespace
}  // namespace djkivo::app
