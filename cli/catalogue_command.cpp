// djkivo-cli scrape, resolve, list and search: the window's list loads and song resolution
// from the command line. Pages and rows are raw GBK bytes, as the site sends them.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/core/catalogue_address.h"
#include "app/core/list_load.h"
#include "app/core/scrapers.h"
#include "app/core/text.h"
#include "base/gbk_text.h"
#include "cli/command.h"

namespace djkivo::cli {

namespace {

using app::SongEntry;

constexpr char kScrapeUsage[] =
    "category|search FILE|-   (one row a line: id TAB name TAB uploader)";
constexpr char kResolveUsage[] = "FILE|-   (the stream address of a play page)";
constexpr char kListUsage[] =
    "CATEGORY [PAGE]   (CATEGORY 1-4, 7-10 or a path word: recommend_month)";
constexpr char kSearchUsage[] = "KEYWORD [PAGE]   (KEYWORD in UTF-8)";

int UsageError(const char* command, const char* usage) {
  std::fprintf(stderr, "usage: djkivo-cli %s %s\n", command, usage);
  return kExitUsage;
}

// The whole of FILE, or of standard input for "-"; nothing when it cannot be read.
std::optional<std::string> ReadInput(const std::string& name) {
  if (name == "-") {
    std::string bytes{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    if (std::cin.bad())
      return std::nullopt;
    return bytes;
  }
  std::ifstream file(name, std::ios::binary);
  if (!file)
    return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad())
    return std::nullopt;
  return bytes;
}

int PrintSongs(const std::vector<SongEntry>& songs) {
  for (const SongEntry& song : songs) {
    const std::string line = song.id + "\t" + song.name + "\t" + song.uploader + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// The page number argument: a whole number, 1 when it is 0 or negative (as "跳转" does).
std::optional<int> PageArgument(const std::vector<std::string>& args, std::size_t index) {
  if (args.size() <= index)
    return 1;
  try {
    return std::max(1, app::StrToInt(args[index]));
  } catch (const app::EConvertError& error) {
    std::fprintf(stderr, "djkivo-cli: %s\n", error.what());
    return std::nullopt;
  }
}

int LoadAndPrint(const std::string& address, app::ListKind kind) {
  std::vector<SongEntry> songs;
  if (!app::LoadListPage(address, kind, songs)) {
    std::fprintf(stderr, "djkivo-cli: cannot read %s\n", address.c_str());
    return 1;
  }
  return PrintSongs(songs);
}

int Scrape(const CliOptions&, const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "category" && args[0] != "search"))
    return UsageError("scrape", kScrapeUsage);
  const std::optional<std::string> page = ReadInput(args[1]);
  if (!page) {
    std::fprintf(stderr, "djkivo-cli: cannot read %s\n", args[1].c_str());
    return 1;
  }
  return PrintSongs(args[0] == "search" ? app::ScrapeSearchPage(*page)
                                        : app::ScrapeCategoryPage(*page));
}

int Resolve(const CliOptions&, const std::vector<std::string>& args) {
  if (args.size() != 1)
    return UsageError("resolve", kResolveUsage);
  const std::optional<std::string> page = ReadInput(args[0]);
  if (!page) {
    std::fprintf(stderr, "djkivo-cli: cannot read %s\n", args[0].c_str());
    return 1;
  }
  const std::string address = app::ResolveStreamAddress(*page);
  if (address.empty()) {
    std::fprintf(stderr, "djkivo-cli: no stream address in %s\n", args[0].c_str());
    return 1;
  }
  std::fwrite(address.data(), 1, address.size(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

bool NeedsHost(const CliOptions& options) {
  if (!options.catalogue_host.empty())
    return false;
  std::fprintf(stderr, "djkivo-cli: --catalogue-host HOST[:PORT] is needed\n");
  return true;
}

int List(const CliOptions& options, const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2)
    return UsageError("list", kListUsage);
  std::optional<int> category = app::CategoryByPathWord(args[0]);
  if (!category) {
    try {
      category = app::StrToInt(args[0]);
    } catch (const app::EConvertError&) {
    }
  }
  if (!category || !app::IsCatalogueCategory(*category)) {
    std::fprintf(stderr, "djkivo-cli: unknown category %s\n", args[0].c_str());
    return UsageError("list", kListUsage);
  }
  const std::optional<int> page = PageArgument(args, 1);
  if (!page)
    return kExitUsage;
  if (NeedsHost(options))
    return kExitUsage;
  return LoadAndPrint(
      app::PageAddress(app::CategoryTemplateAddress(options.catalogue_host, *category), *page),
      app::ListKind::kCategory);
}

int Search(const CliOptions& options, const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2)
    return UsageError("search", kSearchUsage);
  const std::optional<std::string> keyword = Utf8ToGbk(args[0]);
  if (!keyword) {
    std::fprintf(stderr, "djkivo-cli: the keyword is not UTF-8 text\n");
    return kExitUsage;
  }
  const std::optional<int> page = PageArgument(args, 1);
  if (!page)
    return kExitUsage;
  if (NeedsHost(options))
    return kExitUsage;
  return LoadAndPrint(
      app::PageAddress(app::SearchTemplateAddress(options.catalogue_host, *keyword), *page),
      app::ListKind::kSearch);
}

}  // namespace

const Command kScrapeCommand = {"scrape", kScrapeUsage, Scrape};
const Command kResolveCommand = {"resolve", kResolveUsage, Resolve};
const Command kListCommand = {"list", kListUsage, List};
const Command kSearchCommand = {"search", kSearchUsage, Search};

}  // namespace djkivo::cli
