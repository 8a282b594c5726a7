// The command-line options of the two programs, `djkivo` (the window) and `djkivo-cli`, as
// tables (base/command_line.h): the options they share, and the window's own. The command-line
// tool adds no options of its own before its command. Qt-free, so the window reads its options
// before it makes its Qt application (`--help` and `--version` need no display).
//
// A new option is a field and one line: in SharedOptions and SharedOptionTable when both
// programs take it, in WindowOptions and WindowOptionTable when only the window does. The usage
// texts and the manual pages' lists (djkivo-option-list) follow from the tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/command_line.h"
#include "net/network_settings.h"

namespace djkivo::app {

/// Exit status for wrong usage (sysexits' EX_USAGE), of both programs.
inline constexpr int kExitUsage = 64;

/// The options both programs take. Empty strings mean "not given".
struct SharedOptions {
  std::string catalogue_host;  // --catalogue-host HOST[:PORT]
  std::string home_host;       // --home-host HOST[:PORT]
  std::string playlist;        // --playlist PATH: the play list file instead of the default
  std::string device;          // --device portaudio|null|wav:PATH
  std::string ca_file;         // --ca-file PATH: CA certificates trusted beside the system's
  std::string proxy;           // --proxy URL: the proxy, over the environment's
  /// --reconnect-minutes N: how long a dropped stream is reconnected before the song is given
  /// up (0: never reconnect); -1 when not given.
  int reconnect_minutes = -1;
  bool help = false;     // --help, -h: print the usage text to stdout and exit 0
  bool version = false;  // --version: print the version to stdout and exit 0
};

/// The shared options' table, bound to `options`; each program's table ends with it.
std::vector<CommandLineOption> SharedOptionTable(SharedOptions& options);

/// The network settings `options` give (--proxy, --ca-file), for net::InstallNetworkSettings.
net::TNetworkSettings NetworkSettings(const SharedOptions& options);

/// What `djkivo` was started with.
struct WindowOptions : SharedOptions {
  bool demo = false;  // --demo: run on the embedded demo site, started in-process
  /// --tls: the demo site over HTTPS, with a certificate made at start and trusted for this run
  /// only.
  bool tls = false;
  /// --screenshot PATH: open "最新推荐", play its first song, save a PNG of the window to PATH
  /// and quit (for the documentation and the screenshot script).
  std::string screenshot;
  /// --new-instance: start even while another player runs in the session (on another play
  /// list only; a start on a list in use raises the player that has it).
  bool new_instance = false;
  /// --no-notifications: no desktop notification when a song starts (as "notifications=false"
  /// in the settings file).
  bool no_notifications = false;
};

/// The window's table, bound to `options`: its own options, then the shared ones.
std::vector<CommandLineOption> WindowOptionTable(WindowOptions& options);

/// Parses the arguments after the program name. Throws EUsageError with a message for the user
/// on an unknown option, a missing value or a stray argument (the window takes none).
WindowOptions ParseWindowOptions(const std::vector<std::string>& args);

/// The window's usage text, printed for --help and after wrong usage. Ends with a newline.
std::string WindowUsageText();

/// "PROGRAM VERSION\n", the text of --version.
std::string VersionText(std::string_view program);

}  // namespace djkivo::app
