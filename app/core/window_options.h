// The window program's command-line options, without Qt.
#pragma once

#include <string>
#include <vector>

namespace djkivo::app {

/// What `djkivo` was started with. Empty strings mean "not given".
struct WindowOptions {
  bool demo = false;           // --demo: run on the embedded demo site, started in-process
  std::string catalogue_host;  // --catalogue-host HOST[:PORT]
  std::string home_host;       // --home-host HOST[:PORT]
  std::string playlist;        // --playlist PATH: the play list file instead of the default
  std::string device;          // --device portaudio|null|wav:PATH
  /// --screenshot PATH: open "最新推荐", play its first song, save a PNG of the window to PATH
  /// and quit (for the documentation and the screenshot script).
  std::string screenshot;
  bool help = false;  // --help / -h
};

/// Parses the arguments after the program name; each value option takes its value as the next
/// argument or after "=" ("--device=null"). Throws std::invalid_argument with a message for
/// the user on an unknown option, a missing value or a stray argument.
WindowOptions ParseWindowOptions(const std::vector<std::string>& args);

/// The usage text printed for --help and after a wrong option.
extern const char* const kWindowUsage;

}  // namespace djkivo::app
