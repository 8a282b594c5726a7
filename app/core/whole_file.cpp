#include "app/core/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace djkivo::app {

namespace {

// How many temporary names a save tries before giving up (another writer holds the others).
constexpr int kMaxTemporaryNames = 100;

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

// Flushes the folder holding `path`, so a rename or a new name in it survives a power cut.
int SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

}  // namespace

int ReadWholeFile(const std::string& path, std::string& bytes) {
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

int ReplaceWholeFile(const std::string& path, std::string_view bytes) {
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
  // The data is flushed before the rename, so the new name never points at blocks not yet
  // written, and the folder after it, so the rename is not lost: a change the player showed
  // as saved survives a power cut. It costs a few milliseconds at each change of the list.
  int error = 0;
  if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0)
    error = errno;
  if (error == 0 && !WriteAll(fd, bytes))
    error = errno;
  if (error == 0 && ::fsync(fd) != 0)
    error = errno;
  if (::close(fd) != 0 && error == 0)
    error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
    error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  return SyncFolderOf(path);
}

}  // namespace djkivo::app
