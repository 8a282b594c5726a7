// What `cmake --install` puts into a DESTDIR and what `cpack -G DEB` makes of the build: the
// desktop's own validators pass the entry and the metainfo, the icons have their sizes, the man
// pages render and list every option the programs' --help prints, the installed command keeps
// its play list in the XDG folder, and the package depends on every library the programs load.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_folder.h"

namespace djkivo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kAppId[] = "org.example.djkivo";
// Stripping, dpkg-shlibdeps and compressing the programs take a while on a loaded machine.
constexpr auto kPackageLimit = 280s;

/// Runs `argv` with `env` ("NAME=VALUE" words) added to the environment; argv[0] is looked up
/// in PATH.
test::ProcessResult RunWith(std::vector<std::string> argv, const std::vector<std::string>& env = {},
                            std::chrono::milliseconds limit = 60s) {
  std::vector<std::string> command{test::FindProgram("env").value_or("/usr/bin/env")};
  command.insert(command.end(), env.begin(), env.end());
  command.insert(command.end(), argv.begin(), argv.end());
  return test::RunProcess(command, limit);
}

/// Width and height of a PNG file, from its header; nullopt when it is no PNG.
std::optional<std::pair<std::uint32_t, std::uint32_t>> PngSize(const fs::path& path) {
  const std::string bytes = test::ReadFileBytes(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      bytes.compare(12, 4, "IHDR") != 0)
    return std::nullopt;
  auto word = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return std::pair(word(16), word(20));
}

/// Every "--option" word of a usage text.
std::set<std::string> OptionsOf(const std::string& usage) {
  std::set<std::string> options;
  const std::regex option("--[a-z][a-z-]*");
  for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option);
       it != std::sregex_iterator(); ++it)
    options.insert(it->str());
  return options;
}

/// The value of `key` in the [Desktop Entry] group of a desktop entry's text.
std::string EntryValue(const std::string& entry, const std::string& key) {
  std::istringstream lines(entry);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(key + "=", 0) == 0)
      return line.substr(key.size() + 1);
  return "";
}

class InstallTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree_ = new test::TempFolder;
    install_ = RunWith({"cmake", "--install", DJKIVO_BINARY_DIR, "--prefix", "/usr"},
                       {"DESTDIR=" + tree_->Path().string()});
  }
  static void TearDownTestSuite() {
    delete tree_;
    tree_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(install_.exit_code, 0) << install_.out << install_.err; }

  static fs::path Installed(const std::string& path) { return tree_->Path() / "usr" / path; }

  /// The usage an installed program prints for --help (with no display: it needs none).
  static std::string Usage(const std::string& program) {
    test::ProcessResult help =
        RunWith({Installed("bin/" + program).string(), "--help"}, {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(help.exit_code, 0) << program << help.err;
    return help.out;
  }

  static inline test::TempFolder* tree_ = nullptr;
  static inline test::ProcessResult install_;
};

TEST_F(InstallTest, TheDesktopEntryAndTheMetainfoPassTheirValidators) {
  const fs::path entry = Installed(std::string("share/applications/") + kAppId + ".desktop");
  const fs::path metainfo = Installed(std::string("share/metainfo/") + kAppId + ".metainfo.xml");
  test::ProcessResult desktop = RunWith({"desktop-file-validate", entry.string()});
  EXPECT_EQ(desktop.exit_code, 0) << desktop.out << desktop.err;
  EXPECT_EQ(desktop.out + desktop.err, "");
  test::ProcessResult appstream =
      RunWith({"appstreamcli", "validate", "--no-net", metainfo.string()});
  EXPECT_EQ(appstream.exit_code, 0) << appstream.out << appstream.err;

  // The entry starts a program that is installed, with an icon that is, and names the window
  // class the program's windows get (Qt takes it from the application name, "djkivo").
  const std::string text = test::ReadFileBytes(entry);
  EXPECT_TRUE(fs::exists(Installed("bin/" + EntryValue(text, "Exec"))));
  EXPECT_TRUE(fs::exists(
      Installed("share/icons/hicolor/scalable/apps/" + EntryValue(text, "Icon") + ".svg")));
  EXPECT_EQ(EntryValue(text, "StartupWMClass"), "djkivo");
  EXPECT_EQ(EntryValue(text, "Categories"), "AudioVideo;Audio;Player;");
  for (const char* key : {"Name", "GenericName", "Comment"}) {
    EXPECT_NE(EntryValue(text, key), "") << key;
    EXPECT_NE(EntryValue(text, std::string(key) + "[zh_CN]"), "") << key;
  }
}

TEST_F(InstallTest, TheIconsHaveTheirSizes) {
  EXPECT_THAT(test::ReadFileBytes(Installed("share/icons/hicolor/scalable/apps/djkivo.svg")),
              testing::HasSubstr("<svg"));
  for (std::uint32_t size : {48u, 64u, 128u, 256u}) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(PngSize(Installed("share/icons/hicolor/" + folder + "/apps/djkivo.png")),
              std::pair(size, size))
        << folder;
  }
}

TEST_F(InstallTest, TheManPagesRenderAndListEveryOptionOfTheirProgram) {
  for (const std::string program : {"djkivo", "djkivo-cli"}) {
    test::ProcessResult page = RunWith(
        {"man", "--warnings", "-l", "-P", "cat", Installed("share/man/man1/" + program + ".1")},
        {"MANWIDTH=100", "LC_ALL=C.UTF-8"});
    EXPECT_EQ(page.exit_code, 0) << program << page.err;
    EXPECT_EQ(page.err, "") << program;
    EXPECT_THAT(page.out, testing::HasSubstr("SYNOPSIS")) << program;
    const std::set<std::string> options = OptionsOf(Usage(program));
    EXPECT_THAT(options, testing::Contains("--playlist")) << program;
    for (const std::string& option : options)
      EXPECT_THAT(page.out, testing::HasSubstr(option)) << program;
  }
}

TEST_F(InstallTest, TheInstalledCommandKeepsItsPlayListInTheDataFolder) {
  test::TempFolder home;
  const fs::path data = home.Path() / "data";
  test::ProcessResult add =
      RunWith({Installed("bin/djkivo-cli").string(), "playlist", "add", "7", "name", "uploader"},
              {"XDG_DATA_HOME=" + data.string(), "HOME=" + home.Path().string()});
  EXPECT_EQ(add.exit_code, 0) << add.err;
  EXPECT_EQ(test::ReadFileBytes(data / "djkivo" / "mylist.txt"), "name|uploader|7\r\n");
  EXPECT_FALSE(fs::exists(Installed("bin/mylist.txt")));
}

TEST_F(InstallTest, TheInstalledWindowKeepsItsPlayListInTheDataFolder) {
  // The window on the demo site plays the first song of "最新推荐", which adds it to the play
  // list, saves a picture of itself and quits.
  test::TempFolder home;
  const fs::path data = home.Path() / "data";
  test::ProcessResult run =
      RunWith({Installed("bin/djkivo").string(), "--demo", "--device", "null", "--screenshot",
               (home.Path() / "shot.png").string()},
              {"XDG_DATA_HOME=" + data.string(), "HOME=" + home.Path().string(),
               "XDG_CONFIG_HOME=" + (home.Path() / "config").string(), "QT_QPA_PLATFORM=offscreen",
               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home.Path() / "no-bus").string()},
              120s);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(test::ReadFileBytes(data / "djkivo" / "mylist.txt"), testing::EndsWith("\r\n"));
  EXPECT_TRUE(PngSize(home.Path() / "shot.png").has_value());
  EXPECT_FALSE(fs::exists(Installed("bin/mylist.txt")));
}

// The package's Depends, as package names (versions and alternatives' bars dropped).
std::set<std::string> DependedOn(const std::string& depends) {
  std::set<std::string> packages;
  const std::regex name("(^|[,|])\\s*([a-z0-9][a-z0-9+.-]*)");
  for (auto it = std::sregex_iterator(depends.begin(), depends.end(), name);
       it != std::sregex_iterator(); ++it)
    packages.insert((*it)[2].str());
  return packages;
}

// Shared library names of the dynamic linker's cache and where they are.
std::map<std::string, std::string> LibraryPaths() {
  std::map<std::string, std::string> paths;
  const test::ProcessResult cache = RunWith({"/sbin/ldconfig", "-p"});
  const std::regex line("^\\s*(\\S+) \\(([^)]*)\\) => (\\S+)$");
  std::istringstream lines(cache.out);
  std::string text;
  std::smatch match;
  while (std::getline(lines, text))
    if (std::regex_match(text, match, line) && match[2].str().find("x86-64") != std::string::npos)
      paths.emplace(match[1].str(), match[3].str());
  return paths;
}

// The Debian package that owns `path`, tried as given and in the other half of a merged /usr.
std::string OwningPackage(const std::string& path) {
  std::vector<std::string> candidates{path, fs::canonical(path).string()};
  for (const std::string& candidate : std::vector(candidates)) {
    if (candidate.rfind("/usr/", 0) == 0)
      candidates.push_back(candidate.substr(4));
    else
      candidates.push_back("/usr" + candidate);
  }
  for (const std::string& candidate : candidates) {
    const test::ProcessResult owner = RunWith({"dpkg", "-S", candidate});
    if (owner.exit_code == 0)
      return owner.out.substr(0, owner.out.find_first_of(":,"));
  }
  return "";
}

TEST_F(InstallTest, ThePackageDependsOnEveryLibraryItsProgramsLoad) {
  test::TempFolder out;
  test::ProcessResult cpack =
      RunWith({"cpack", "-G", "DEB", "--config", DJKIVO_BINARY_DIR "/CPackConfig.cmake", "-B",
               out.Path().string()},
              {}, kPackageLimit);
  ASSERT_EQ(cpack.exit_code, 0) << cpack.out << cpack.err;
  fs::path deb;
  for (const fs::directory_entry& file : fs::directory_iterator(out.Path()))
    if (file.path().extension() == ".deb")
      deb = file.path();
  ASSERT_FALSE(deb.empty()) << cpack.out;

  const test::ProcessResult fields = RunWith({"dpkg-deb", "--field", deb.string(), "Depends"});
  ASSERT_EQ(fields.exit_code, 0) << fields.err;
  const std::set<std::string> depends = DependedOn(fields.out);

  const fs::path unpacked = out.Path() / "unpacked";
  ASSERT_EQ(RunWith({"dpkg-deb", "--extract", deb.string(), unpacked.string()}).exit_code, 0);
  for (const char* path : {"usr/share/applications/org.example.djkivo.desktop",
                           "usr/share/metainfo/org.example.djkivo.metainfo.xml",
                           "usr/share/icons/hicolor/256x256/apps/djkivo.png",
                           "usr/share/man/man1/djkivo.1", "usr/share/man/man1/djkivo-cli.1"})
    EXPECT_TRUE(fs::exists(unpacked / path)) << path;

  const std::map<std::string, std::string> libraries = LibraryPaths();
  const std::regex needed("^\\s*NEEDED\\s+(\\S+)$");
  for (const char* program : {"djkivo", "djkivo-cli"}) {
    const test::ProcessResult dynamic =
        RunWith({"objdump", "-p", (unpacked / "usr/bin" / program).string()});
    ASSERT_EQ(dynamic.exit_code, 0) << dynamic.err;
    std::istringstream lines(dynamic.out);
    std::string line;
    std::smatch match;
    int count = 0;
    while (std::getline(lines, line)) {
      if (!std::regex_match(line, match, needed))
        continue;
      ++count;
      const auto library = libraries.find(match[1].str());
      ASSERT_NE(library, libraries.end()) << match[1];
      const std::string package = OwningPackage(library->second);
      EXPECT_NE(package, "") << library->second;
      EXPECT_THAT(depends, testing::Contains(package))
          << program << " needs " << match[1] << " of " << package << "; Depends: " << fields.out;
    }
    EXPECT_GT(count, 3) << program;
  }
}

}  // namespace
}  // namespace djkivo
