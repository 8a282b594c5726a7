// Where the play list file "mylist.txt" is kept when the user names none, for the window and
// for djkivo-cli alike.
//
// An installed program's folder is not writable, so the play list lives in the desktop's data
// folder, `$XDG_DATA_HOME/djkivo/mylist.txt` (`~/.local/share/djkivo/mylist.txt`). A copy of the
// program unpacked somewhere the user may write keeps the list beside the executable, as it
// always did: a writable "mylist.txt" found there wins. And a list found only where that old
// default was, but read-only there, is carried over into the data folder once rather than
// left behind for an empty one.
#pragma once

#include <string>

namespace djkivo::app {

/// The name of the play list file in every folder.
inline constexpr char kMyListFileName[] = "mylist.txt";

/// The folders the default is chosen from. Empty strings mean "not set".
struct PlayListPlaces {
  std::string executable_folder;  // the folder of the running program
  std::string data_home;          // $XDG_DATA_HOME
  std::string home;               // $HOME
};

/// The places of this process: the folder of /proc/self/exe, $XDG_DATA_HOME and $HOME (or the
/// password database's home folder when $HOME is unset).
PlayListPlaces CurrentPlayListPlaces();

/// The data folder's play list file, `DATA/djkivo/mylist.txt`: DATA is `data_home` when it is an
/// absolute path (the XDG rule ignores a relative one), else `home/.local/share`.
std::string DataPlayListPath(const PlayListPlaces& places);

/// Which play list file to use.
struct PlayListChoice {
  std::string path;  // the file to load and save
  /// True when the file is in the data folder, whose missing folders the first save makes.
  bool in_data_folder = false;
  /// A read-only list at the old default place that `path` does not hold yet; empty when there
  /// is none.
  std::string import_from;
  /// One line for the user about what was done (a list carried over, or why it could not
  /// be); empty when there is nothing to say.
  std::string note;
};

/// The default play list file, touching nothing on disk: "mylist.txt" beside the executable
/// when it exists and a save can replace it there (file and folder writable), else the data
/// folder's, with `import_from` set when only a read-only list is found beside the executable.
PlayListChoice ChoosePlayListFile(const PlayListPlaces& places);

/// The play list file to use: `given` (--playlist) when it is not empty, else the default of
/// `places`. A read-only list at the old default place is copied into the data folder first
/// (so it is used and never replaced by an empty one); where that copy cannot be made, the old
/// file itself is used, and saving it fails with its reason rather than losing it.
PlayListChoice PlayListFileFor(const std::string& given, const PlayListPlaces& places);

/// Makes the folders above `file_path` that are missing, each readable only by the user (the
/// XDG rule for data folders). Returns 0 or the errno of the first folder that could not be made.
int MakeParentFolders(const std::string& file_path);

}  // namespace djkivo::app
