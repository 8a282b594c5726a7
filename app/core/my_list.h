// The play list ("我的列表"): its record, its file "mylist.txt" and the operations of the
// window's play-list commands. The player's queue and the only thing it stores.
//
// File format: GBK bytes, no byte-order mark; one line per entry, in play-list order:
// name "|" uploader "|" id, each line (the last one too) ended by CR LF; an empty play list
// is an empty file. When reading, a line ends at CR, LF or CR LF.
//
// Field rules, applied whenever a text is stored in an entry, so that every entry survives a
// save and a load unchanged: a "|" character becomes the full-width "｜" (GBK A3 FC), a CR or LF
// byte becomes a space, and the text is cut to at most 255 bytes at a GBK character boundary.
// "|" and line breaks are looked for at character boundaries only, so the second byte of a GBK
// character is never taken for one.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/song_entry.h"

namespace djkivo::app {

/// The longest field of an entry, in bytes (the record's fixed-size strings).
inline constexpr std::size_t kMaxMyListField = 255;

/// One play-list entry. Build it with `MakeMyListDj` so the field rules hold.
struct TMyListDj {
  std::string name;      // song name, at most kMaxMyListField bytes
  std::string uploader;  // uploader, at most kMaxMyListField bytes
  std::string id;        // the site's song id, at most kMaxMyListField bytes

  bool operator==(const TMyListDj&) const = default;
};

/// The play list, index 0 first.
using TarrMyListDj = std::vector<TMyListDj>;

/// A play-list file that cannot be read or written. The message is the one the error box shows:
/// "Cannot open file "PATH". REASON" or "Cannot create file "PATH". REASON", REASON being the
/// system's text for the failure.
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// An entry made of the three texts with the field rules applied: each cut to at most
/// kMaxMyListField bytes at a character boundary, "|" stored as the full-width "｜", a line
/// break as a space, and half a GBK character at the end dropped (it would swallow the "|"
/// after it when the file is read back).
TMyListDj MakeMyListDj(std::string_view name, std::string_view uploader, std::string_view id);

/// The entries of a play-list file's bytes. Lines without "|" and lines of exactly two pieces
/// are skipped; of four or more pieces the first three are taken. Duplicates stay.
TarrMyListDj ParseMyList(std::string_view file_bytes);

/// The bytes of a play-list file holding `list`.
std::string FormatMyList(const TarrMyListDj& list);

/// The play list, its current entry and its file, as the window's handlers and the command-line
/// tool use them. Not thread-safe: the window uses it on its own thread only.
class TMyList {
 public:
  /// A play list kept in the file `my_list_file_name` (`MyListFileName`). Starts empty, with
  /// `CurrentIndex` -1; nothing is read until `Load`. With `make_folders` (the desktop's data
  /// folder), a save first makes the folders above the file that are missing; without, a
  /// missing folder fails the save.
  explicit TMyList(std::string my_list_file_name, bool make_folders = false);

  /// Replaces the list with the file's entries and sets `CurrentIndex` to -1. A missing file
  /// gives an empty list without error; a file that exists but cannot be read leaves the list
  /// empty and throws `EFileError` "Cannot open file ...".
  void Load();

  /// Writes the whole list to the file, replacing it atomically and durably
  /// (`ReplaceWholeFile`): a failure, a crash or a power cut leaves either the old file or the
  /// new one, never a mix, and once this returns the new one is on disk. The new file keeps
  /// the old one's permissions, and a file the user may not write is not replaced. Throws
  /// `EFileError` "Cannot create file ..." on failure; the list in memory is unchanged.
  void SaveMyList() const;

  /// Adds a song as "加入到播放列表" does: if an entry has the same id (bytes compared exactly,
  /// after the field rules), `CurrentIndex` becomes its index and nothing is written; otherwise
  /// the song is appended, `CurrentIndex` becomes its index and the file is saved. Returns
  /// `CurrentIndex`. A failed save throws `EFileError` with the entry kept in memory.
  int Add(const SongEntry& song);

  /// Removes entry `index`; the others keep their order. An index outside the list does nothing.
  /// `CurrentIndex` keeps to the same song when an earlier entry goes, moves to the entry before
  /// the deleted one when the current one goes, and is 0 or more afterwards. Does not save.
  void DeleteMyListEntry(int index);

  /// Empties the list, sets `CurrentIndex` to -1 and saves (an empty file). A failed save
  /// throws `EFileError` with the list left empty in memory.
  void Clear();

  const TarrMyListDj& MyList() const { return my_list_; }
  const std::string& MyListFileName() const { return my_list_file_name_; }

  /// The index of the current song, or -1 for none chosen yet. It may point past the end after
  /// entries were deleted; `Current` then gives nothing.
  int CurrentIndex() const { return current_index_; }
  /// Sets `CurrentIndex` (the playback commands move it). Any value is accepted.
  void SetCurrentIndex(int index) { current_index_ = index; }

  /// The entry at `CurrentIndex`, or nullptr when it is -1 or outside the list.
  const TMyListDj* Current() const;

 private:
  const std::string my_list_file_name_;
  const bool make_folders_;
  TarrMyListDj my_list_;
  int current_index_ = -1;
};

}  // namespace djkivo::app
