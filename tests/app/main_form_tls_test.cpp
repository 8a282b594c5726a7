// The window on the demo site over HTTPS, as `djkivo --demo --tls` runs it: the list pages, the
// play page and the stream all go over TLS, checked against the site's throwaway CA; without
// that trust nothing loads. And the program itself: where its trust and proxy come from.
#include <QProcess>
#include <QProcessEnvironment>

#include "app/status_panel.h"
#include "net/network_settings.h"
#include "tests/app/window_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_certificates.h"

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

  /// Starts the program on the site, as a user would, with a settings file of `settings`
  /// lines and `args`; it opens a list, plays, saves a picture of itself and quits (within
  /// its screenshot limit when nothing plays). Each run has its own folders under `name`.
  std::unique_ptr<QProcess> StartProgram(const std::string& name, const std::string& settings,
                                         const QStringList& args) {
    folder_.Write(name + "/config/djkivo/djkivo.ini", "[General]\n" + settings);
    const auto path = [&](const char* leaf) {
      return QString::fromStdString((folder_.Path() / name / leaf).string());
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + path("no-bus"));
    auto program = std::make_unique<QProcess>();
    program->setProcessEnvironment(environment);
    program->setProcessChannelMode(QProcess::ForwardedChannels);
    program->start(
        QStringLiteral(DJKIVO_WINDOW_PATH),
        QStringList{QStringLiteral("--catalogue-host"),
                    QString::fromStdString(site_->BaseAddress()), QStringLiteral("--device"),
                    QStringLiteral("null"), QStringLiteral("--no-notifications"),
                    QStringLiteral("--playlist"), path("mylist.txt"),
                    QStringLiteral("--screenshot"), path("shot.png")} +
            args);
    EXPECT_TRUE(program->waitForStarted(30000)) << name;
    return program;
  }

  /// Waits for every program to end; whether each ended with 0.
  bool EndedWell(const std::vector<QProcess*>& programs) {
    const bool ended = WaitFor(
        [&] {
          return std::ranges::all_of(
              programs, [](QProcess* p) { return p->state() == QProcess::NotRunning; });
        },
        120s);
    return ended && std::ranges::all_of(programs, [](QProcess* p) {
             return p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0;
           });
  }
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

// The settings file's "ca-file" and "proxy" are taken when no option names them; an option
// wins over its key.
TEST_F(WindowTlsTest, TheProgramTakesTheTrustAndProxyKeysUnlessAnOptionNamesThem) {
  const std::string site_ca = "ca-file=" + site_->CaFile() + "\n";
  std::unique_ptr<QProcess> trusted = StartProgram("key-ca", site_ca, {});
  ASSERT_TRUE(EndedWell({trusted.get()}));
  EXPECT_GT(site_->TotalRequests(), 0) << "the ca-file key was not taken";
  const int requests = site_->TotalRequests();

  // Proxies that refuse every tunnel, recording what they were asked.
  const std::string refusal = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
  const std::vector<test::PeerScript> refusals(4, test::ScriptedPeer::Answer(refusal));
  test::ScriptedPeer key_proxy(refusals);
  test::ScriptedPeer overridden_proxy(refusals);  // in the settings of a run that names another
  test::ScriptedPeer option_proxy(refusals);
  const auto address = [](const test::ScriptedPeer& proxy) {
    return "127.0.0.1:" + std::to_string(proxy.Port());
  };
  std::unique_ptr<QProcess> other_ca =
      StartProgram("option-ca", site_ca,
                   {QStringLiteral("--ca-file"),
                    QString::fromStdString(test::TestCertificates::Get().CaFile())});
  std::unique_ptr<QProcess> by_key = StartProgram("key-proxy", "proxy=" + address(key_proxy), {});
  std::unique_ptr<QProcess> by_option =
      StartProgram("option-proxy", "proxy=" + address(overridden_proxy),
                   {QStringLiteral("--proxy"), QString::fromStdString(address(option_proxy))});
  EXPECT_TRUE(EndedWell({other_ca.get(), by_key.get(), by_option.get()}));

  EXPECT_EQ(site_->TotalRequests(), requests) << "--ca-file did not replace the key's CA";
  const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(site_->Port()) + " ";
  ASSERT_FALSE(key_proxy.Requests().empty()) << "the proxy key was not taken";
  ASSERT_FALSE(option_proxy.Requests().empty()) << "--proxy was not taken";
  EXPECT_TRUE(key_proxy.Requests().at(0).starts_with(tunnel)) << key_proxy.Requests().at(0);
  EXPECT_TRUE(overridden_proxy.Requests().empty()) << "the proxy key won over --proxy";
  EXPECT_TRUE(option_proxy.Requests().at(0).starts_with(tunnel)) << option_proxy.Requests().at(0);
}

}  // namespace
}  // namespace djkivo::app
