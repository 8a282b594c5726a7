#include "app/core/play_list_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "app/core/whole_file.h"

namespace djkivo::app {

namespace {

// The program's folder inside the data folder.
constexpr char kDataFolder[] = "djkivo";
// Folders the play list's first save makes are the user's alone.
constexpr mode_t kFolderMode = 0700;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/')
    return folder + name;
  return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Whether a save can replace the file: it and its folder are writable (the new content is
// written beside it and renamed over it).
bool Replaceable(const std::string& path) {
  return ::access(path.c_str(), W_OK) == 0 && ::access(FolderOf(path).c_str(), W_OK) == 0;
}

}  // namespace

PlayListPlaces CurrentPlayListPlaces() {
  PlayListPlaces places;
  char executable[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length > 0)
    places.executable_folder = FolderOf(std::string(executable, static_cast<std::size_t>(length)));
  places.data_home = Environment("XDG_DATA_HOME");
  places.home = Environment("HOME");
  if (places.home.empty()) {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr)
      places.home = user->pw_dir;
  }
  return places;
}

std::string DataPlayListPath(const PlayListPlaces& places) {
  const std::string data = !places.data_home.empty() && places.data_home.front() == '/'
                               ? places.data_home
                               : JoinPath(places.home, ".local/share");
  return JoinPath(JoinPath(data, kDataFolder), kMyListFileName);
}

PlayListChoice ChoosePlayListFile(const PlayListPlaces& places) {
  PlayListChoice choice;
  const std::string beside = places.executable_folder.empty()
                                 ? std::string()
                                 : JoinPath(places.executable_folder, kMyListFileName);
  if (!beside.empty() && Exists(beside) && Replaceable(beside)) {
    choice.path = beside;
    return choice;
  }
  choice.path = DataPlayListPath(places);
  choice.in_data_folder = true;
  if (!beside.empty() && Exists(beside) && !Exists(choice.path))
    choice.import_from = beside;
  return choice;
}

int MakeParentFolders(const std::string& file_path) {
  const std::string folder = FolderOf(file_path);
  if (folder == "/" || folder == "." || Exists(folder))
    return 0;
  if (const int error = MakeParentFolders(folder))
    return error;
  if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST)
    return errno;
  return 0;
}

PlayListChoice PlayListFileFor(const std::string& given, const PlayListPlaces& places) {
  if (!given.empty()) {
    PlayListChoice named;
    named.path = given;
    return named;
  }
  PlayListChoice choice = ChoosePlayListFile(places);
  if (choice.import_from.empty())
    return choice;
  std::string bytes;
  int error = ReadWholeFile(choice.import_from, bytes);
  if (error == 0)
    error = MakeParentFolders(choice.path);
  if (error == 0)
    error = ReplaceWholeFile(choice.path, bytes);
  if (error == 0) {
    choice.note = "the play list " + choice.import_from + " is read-only; it was copied to " +
                  choice.path + ", where it is kept from now on";
    return choice;
  }
  choice.note = "cannot copy the read-only play list " + choice.import_from + " to " + choice.path +
                ": " + std::strerror(error) + "; using it where it is";
  choice.path = choice.import_from;
  choice.in_data_folder = false;
  return choice;
}

}  // namespace djkivo::app
