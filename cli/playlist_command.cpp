// djkivo-cli playlist: the play list file "mylist.txt" from the command line, with the same
// rules as the window's play-list commands.
#include <cstdio>
#include <string>
#include <vector>

#include "app/core/my_list.h"
#include "app/core/play_list_location.h"
#include "app/core/text.h"
#include "cli/command.h"

namespace djkivo::cli {

namespace {

constexpr char kUsage[] =
    "show | add ID NAME UPLOADER | delete INDEX | clear  [--playlist PATH]\n"
    "         (show prints INDEX TAB id TAB name TAB uploader, INDEX from 0; texts are GBK bytes)";

int UsageError() {
  std::fprintf(stderr, "usage: djkivo-cli playlist %s\n", kUsage);
  return kExitUsage;
}

int Show(const app::TMyList& list) {
  const app::TarrMyListDj& entries = list.MyList();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string line = std::to_string(i) + "\t" + entries[i].id + "\t" + entries[i].name +
                             "\t" + entries[i].uploader + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int PlayList(const CliOptions& options, const std::vector<std::string>& given) {
  std::vector<std::string> args;
  std::string path = options.playlist;
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i] == "--playlist" && i + 1 < given.size())
      path = given[++i];
    else
      args.push_back(given[i]);
  }
  if (args.empty())
    return UsageError();
  const std::string& action = args[0];
  // The same file the window uses when no --playlist names one.
  const app::PlayListChoice file = app::PlayListFileFor(path, app::CurrentPlayListPlaces());
  if (!file.note.empty())
    std::fprintf(stderr, "djkivo-cli: %s\n", file.note.c_str());
  app::TMyList list(file.path, file.in_data_folder);
  try {
    list.Load();
    if (action == "show" && args.size() == 1)
      return Show(list);
    if (action == "add" && args.size() == 4) {
      const int index = list.Add({args[2], args[3], args[1]});
      std::printf("%d\n", index);
      return 0;
    }
    if (action == "delete" && args.size() == 2) {
      int index = -1;
      try {
        index = app::StrToInt(args[1]);
      } catch (const app::EConvertError& error) {
        std::fprintf(stderr, "djkivo-cli: %s\n", error.what());
        return kExitUsage;
      }
      if (index < 0 || static_cast<std::size_t>(index) >= list.MyList().size()) {
        std::fprintf(stderr, "djkivo-cli: the play list has no entry %d\n", index);
        return 1;
      }
      list.DeleteMyListEntry(index);
      list.SaveMyList();
      return 0;
    }
    if (action == "clear" && args.size() == 1) {
      list.Clear();
      return 0;
    }
  } catch (const app::EFileError& error) {
    std::fprintf(stderr, "djkivo-cli: %s\n", error.what());
    return 1;
  }
  return UsageError();
}

}  // namespace

const Command kPlaylistCommand = {"playlist", kUsage, PlayList};

}  // namespace djkivo::cli
