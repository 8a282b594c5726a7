// A temporary folder for one test or benchmark, removed with everything in it at destruction,
// and reading a file back whole.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace djkivo::test {

/// A fresh folder under the system's temporary folder. Not copyable.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  /// Writes `bytes` to the file `name` (a relative path; folders are created) and returns its
  /// full path. Throws std::runtime_error when it cannot.
  std::filesystem::path Write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

/// The whole content of the file at `path`; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace djkivo::test
