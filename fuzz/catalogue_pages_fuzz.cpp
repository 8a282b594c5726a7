// Bytes from the network or the disk through the scrapers and the play-list reader: nothing may
// crash, every scraped song must be one the list can show and store (a numeric id, no NUL, no
// apostrophe left, search texts trimmed and free of tags), and every play list read from a
// file must survive a save and a load unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/my_list.h"
#include "app/core/scrapers.h"
#include "base/ascii.h"

namespace {

using djkivo::app::SongEntry;

void Require(bool condition) {
  if (!condition)
    std::abort();
}

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return djkivo::IsAsciiDigit(c); });
}

// Apostrophes become double quotes before matching, and a page ends at its first NUL.
bool Clean(std::string_view text) {
  return text.find('\'') == std::string_view::npos && text.find('\0') == std::string_view::npos;
}

bool IsTrimmed(std::string_view text) { return djkivo::Trimmed(text) == text; }

// The tag pattern "<.+?>" leaves no "<" that has a ">" at least two bytes after it.
bool TagFree(std::string_view text) {
  for (std::size_t open = text.find('<'); open != std::string_view::npos;
       open = text.find('<', open + 1)) {
    if (text.find('>', open + 2) != std::string_view::npos)
      return false;
  }
  return true;
}

void CheckSongs(const std::vector<SongEntry>& songs, bool search) {
  for (const SongEntry& song : songs) {
    Require(AllDigits(song.id));
    Require(!song.name.empty() || search);
    Require(Clean(song.name) && Clean(song.uploader));
    if (search)
      Require(IsTrimmed(song.name) && IsTrimmed(song.uploader) && TagFree(song.name));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace djkivo::app;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string before_nul = bytes.substr(0, bytes.find('\0'));

  const std::vector<SongEntry> category = ScrapeCategoryPage(bytes);
  CheckSongs(category, false);
  Require(ScrapeCategoryPage(before_nul) == category);

  const std::vector<SongEntry> search = ScrapeSearchPage(bytes);
  CheckSongs(search, true);
  Require(ScrapeSearchPage(before_nul) == search);

  const std::string address = ResolveStreamAddress(bytes);
  Require(Clean(address));
  if (!address.empty())
    Require(ResolveStreamAddress(before_nul) == address);

  const TarrMyListDj list = ParseMyList(bytes);
  for (const TMyListDj& entry : list)
    Require(entry.name.size() <= kMaxMyListField && entry.uploader.size() <= kMaxMyListField &&
            entry.id.size() <= kMaxMyListField);
  Require(ParseMyList(FormatMyList(list)) == list);
  return 0;
}
