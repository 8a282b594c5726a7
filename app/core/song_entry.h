// One song as the catalogue site lists it: a row of the song list.
#pragma once

#include <string>

namespace djkivo::app {

/// A song of a list page. GBK bytes as they stand in the page (after the scrapers' clean-ups).
/// In the song list: caption = `name`, first sub-item = `uploader`, second sub-item = `id`.
struct SongEntry {
  std::string name;      // text of the song's link
  std::string uploader;  // text of the uploader's link
  std::string id;        // the site's numeric song id, decimal digits as text

  bool operator==(const SongEntry&) const = default;
};

}  // namespace djkivo::app
