#include "app/core/my_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/gbk.h"

namespace djkivo::app {

namespace {

constexpr char kSeparator = '|';
// The full-width vertical line that stands in for "|" inside a field.
constexpr std::string_view kFullWidthSeparator = "\xA3\xFC";
// How many temporary names a save tries before giving up (another writer holds the others).
constexpr int kMaxTemporaryNames = 100;

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

// Writes all of `bytes` to `fd`; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Reads the whole file at `path` into `bytes`. Returns 0 or errno.
int ReadFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  int error = 0;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      error = errno;
    if (got <= 0)
      break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return error;
}

// Replaces `path` with `bytes` through a temporary file in the same folder. Returns 0 or errno.
int ReplaceFile(const std::string& path, std::string_view bytes) {
  // A play list the user made read-only is not replaced behind their back (the save fails as
  // writing it in place would), and a replaced one keeps its permissions: a private list stays
  // private.
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && ::access(path.c_str(), W_OK) != 0)
    return errno;
  static std::atomic<unsigned> counter{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kMaxTemporaryNames; ++attempt) {
    temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST)
      return errno;
  }
  if (fd < 0)
    return EEXIST;
  // No fsync: the rename alone makes the replacement atomic for the player and for a crash of
  // it, and file systems order a rename over an existing file after its data (ext4's
  // auto_da_alloc), while an fsync would cost milliseconds on a busy disk at every change.
  int error = 0;
  if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0)
    error = errno;
  if (error == 0 && !WriteAll(fd, bytes))
    error = errno;
  if (::close(fd) != 0 && error == 0)
    error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
    error = errno;
  if (error != 0)
    ::unlink(temporary.c_str());
  return error;
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
  std::string bytes;
  for (const TMyListDj& entry : list) {
    bytes.append(entry.name).append(1, kSeparator).append(entry.uploader);
    bytes.append(1, kSeparator).append(entry.id).append("\r\n");
  }
  return bytes;
}

TMyList::TMyList(std::string my_list_file_name)
    : my_list_file_name_(std::move(my_list_file_name)) {}

void TMyList::Load() {
  my_list_.clear();
  current_index_ = -1;
  std::string bytes;
  if (const int error = ReadFile(my_list_file_name_, bytes)) {
    if (error == ENOENT)
      return;
    throw EFileError(FileMessage("Cannot open file", my_list_file_name_, error));
  }
  my_list_ = ParseMyList(bytes);
}

void TMyList::SaveMyList() const {
  if (const int error = ReplaceFile(my_list_file_name_, FormatMyList(my_list_)))
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
