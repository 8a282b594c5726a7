#include "app/core/my_list.h"

#include <cerrno>
#include <cstring>

#include "app/core/play_list_location.h"
#include "app/core/whole_file.h"
#include "base/gbk.h"

namespace djkivo::app {

namespace {

constexpr char kSeparator = '|';
// The full-width vertical line that stands in for "|" inside a field.
constexpr std::string_view kFullWidthSeparator = "\xA3\xFC";

std::string StoredField(std::string_view text) {
  std::string field;
  std::size_t last_length = 0;  // bytes of the last character kept
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = GbkCharLength(text, pos);
    std::string_view piece = text.substr(pos, length);
    if (length == 1 && text[pos] == kSeparator)
      piece = kFullWidthSeparator;
    else if (length == 1 && (text[pos] == '\r' || text[pos] == '\n'))
      piece = " ";
    if (field.size() + piece.size() > kMaxMyListField)
      break;
    field.append(piece);
    last_length = piece.size();
    pos += length;
  }
  // A lone lead byte at the end would pair with the "|" after it into one GBK character when
  // the file is read back, merging two fields and losing the entry; it is half a character
  // anyway, so it goes.
  if (last_length == 1 && IsGbkLeadByte(static_cast<unsigned char>(field.back())))
    field.pop_back();
  return field;
}

// Splits a line at the "|" characters, skipping second bytes of GBK characters.
std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < line.size();) {
    const std::size_t length = GbkCharLength(line, pos);
    if (length == 1 && line[pos] == kSeparator) {
      pieces.push_back(line.substr(start, pos - start));
      start = pos + 1;
    }
    pos += length;
  }
  pieces.push_back(line.substr(start));
  return pieces;
}

std::string FileMessage(const char* what, const std::string& path, int error) {
  return std::string(what) + " \"" + path + "\". " + std::strerror(error);
}

}  // namespace

TMyListDj MakeMyListDj(std::string_view name, std::string_view uploader, std::string_view id) {
  return {StoredField(name), StoredField(uploader), StoredField(id)};
}

TarrMyListDj ParseMyList(std::string_view file_bytes) {
  TarrMyListDj list;
  std::size_t pos = 0;
  while (pos < file_bytes.size()) {
    std::size_t end = file_bytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos)
      end = file_bytes.size();
    const std::string_view line = file_bytes.substr(pos, end - pos);
    pos = end;
    if (pos < file_bytes.size() && file_bytes[pos] == '\r')
      ++pos;
    if (pos < file_bytes.size() && file_bytes[pos] == '\n')
      ++pos;
    const std::vector<std::string_view> pieces = SplitFields(line);
    // One piece: no "|". Two pieces: no id to play the entry by.
    if (pieces.size() < 3)
      continue;
    list.push_back(MakeMyListDj(pieces[0], pieces[1], pieces[2]));
  }
  return list;
}

std::string FormatMyList(const TarrMyListDj& list) {
  // Sized first: a long list is written on every add, and growing the text step by step
  // would copy it over and over.
  std::size_t size = 0;
  for (const TMyListDj& entry : list)
    size += entry.name.size() + entry.uploader.size() + entry.id.size() + 4;
  std::string bytes;
  bytes.reserve(size);
  for (const TMyListDj& entry : list) {
    bytes.append(entry.name).append(1, kSeparator).append(entry.uploader);
    bytes.append(1, kSeparator).append(entry.id).append("\r\n");
  }
  return bytes;
}

TMyList::TMyList(std::string my_list_file_name, bool make_folders)
    : my_list_file_name_(std::move(my_list_file_name)), make_folders_(make_folders) {}

void TMyList::Load() {
  my_list_.clear();
  current_index_ = -1;
  std::string bytes;
  if (const int error = ReadWholeFile(my_list_file_name_, bytes)) {
    if (error == ENOENT)
      return;
    throw EFileError(FileMessage("Cannot open file", my_list_file_name_, error));
  }
  my_list_ = ParseMyList(bytes);
}

void TMyList::SaveMyList() const {
  int error = make_folders_ ? MakeParentFolders(my_list_file_name_) : 0;
  if (error == 0)
    error = ReplaceWholeFile(my_list_file_name_, FormatMyList(my_list_));
  if (error != 0)
    throw EFileError(FileMessage("Cannot create file", my_list_file_name_, error));
}

int TMyList::Add(const SongEntry& song) {
  TMyListDj entry = MakeMyListDj(song.name, song.uploader, song.id);
  for (std::size_t i = 0; i < my_list_.size(); ++i) {
    if (my_list_[i].id == entry.id) {
      current_index_ = static_cast<int>(i);
      return current_index_;
    }
  }
  my_list_.push_back(std::move(entry));
  current_index_ = static_cast<int>(my_list_.size()) - 1;
  SaveMyList();
  return current_index_;
}

void TMyList::DeleteMyListEntry(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= my_list_.size())
    return;
  my_list_.erase(my_list_.begin() + index);
  if (current_index_ >= index)
    --current_index_;
  if (current_index_ < 0)
    current_index_ = 0;
}

void TMyList::Clear() {
  my_list_.clear();
  current_index_ = -1;
  SaveMyList();
}

const TMyListDj* TMyList::Current() const {
  if (current_index_ < 0 || static_cast<std::size_t>(current_index_) >= my_list_.size())
    return nullptr;
  return &my_list_[static_cast<std::size_t>(current_index_)];
}

}  // namespace djkivo::app
