// The demo site's songs and how its list pages and search arrange them.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace djkivo::demo {

/// The two stream formats the site serves every song in.
enum class AudioFormat { kMp3, kWma };

/// Song lengths: `kNormal` songs last 20 to 90 seconds; `kShort` ones 1 to 2 seconds, for tests
/// that play a list through.
enum class SongLength { kNormal, kShort };

/// One song of the site. Texts are GBK bytes as the pages carry them.
struct DemoSong {
  std::string id;           // the site's numeric song id, decimal digits
  std::string name;         // the plain name, as search results carry it (without highlighting)
  std::string listed_name;  // the name as category rows carry it: a few wrap it in upper-case tags
  std::string uploader;
  double seconds = 0;                      // length of the audio
  AudioFormat format = AudioFormat::kMp3;  // the stream its play page points at
  bool apostrophe_quotes = false;          // its play page quotes the script values with "'"
  unsigned seed = 0;                       // the synthesiser's seed for its audio
};

/// A list category: its index in the window's category list, its path piece, its caption.
struct DemoCategory {
  int index;
  std::string_view slug;     // "/dance/sort/" + slug + "_" + page + ".html"
  std::string_view caption;  // UTF-8
};

inline constexpr int kRowsPerPage = 30;
/// Pages with rows per category; later pages are served with an empty list block.
inline constexpr int kCategoryPages = 5;
inline constexpr int kSongCount = 240;

/// The site's fixed catalogue. Immutable after construction; any thread.
class DemoCatalogue {
 public:
  explicit DemoCatalogue(SongLength length);

  const std::vector<DemoSong>& Songs() const { return songs_; }
  /// The song with this id, or nullptr.
  const DemoSong* FindSong(std::string_view id) const;

  /// The eight categories, in the order of the window's category list.
  static const std::array<DemoCategory, 8>& Categories();
  /// The category whose path piece is `slug` (exact letter case), or nullptr.
  static const DemoCategory* FindCategory(std::string_view slug);

  /// The rows of page `page` (1-based) of `category`: 30 songs, none beyond the last page.
  std::vector<const DemoSong*> CategoryPage(const DemoCategory& category, int page) const;

  /// The songs whose plain names contain `keyword` (GBK bytes; ASCII letters in either case;
  /// only at character boundaries), in catalogue order. An empty keyword finds every song.
  std::vector<const DemoSong*> Search(std::string_view keyword) const;

  /// The byte offsets at which `keyword` starts in `name`, left to right, not overlapping, at
  /// GBK character boundaries only. Empty for an empty keyword.
  static std::vector<std::size_t> FindKeyword(std::string_view name, std::string_view keyword);

 private:
  std::vector<DemoSong> songs_;
};

}  // namespace djkivo::demo
