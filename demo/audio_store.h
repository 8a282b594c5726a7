// The demo songs' stream files: synthesised and encoded with FFmpeg's libraries on first use,
// then kept in a cache folder.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "demo/catalogue.h"

namespace djkivo::demo {

/// Encodes `seconds` of the song made from `seed` into `path`: MP3 (libmp3lame, 128 kbit/s) or
/// WMA version 2 (128 kbit/s) in an ASF file, 44.1 kHz stereo. `cancelled` is polled between
/// frames; when it gives true the encode stops and false is returned (the file is then
/// incomplete). Throws std::runtime_error naming the FFmpeg call that failed.
bool EncodeSong(std::uint32_t seed, double seconds, AudioFormat format, const std::string& path,
                const std::function<bool()>& cancelled);

/// The cache of stream files. Any thread; a file being made for one request is waited for by
/// the others that want it, never made twice.
class AudioStore {
 public:
  /// Bump when the synthesiser or the encoding changes, so old cache files are not served.
  static constexpr int kVersion = 2;

  explicit AudioStore(std::string folder) : folder_(std::move(folder)) {}

  /// Creates the folder and removes partial files that a crashed encode left there more than
  /// an hour ago. Throws std::runtime_error when the folder cannot be created.
  void Prepare() const;

  /// The path of the song's file, made first if it is not in the folder yet. Throws
  /// std::runtime_error when encoding fails or was cancelled.
  std::string Ensure(const DemoSong& song, AudioFormat format,
                     const std::function<bool()>& cancelled);

  const std::string& Folder() const { return folder_; }

 private:
  const std::string folder_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<std::mutex>> file_locks_;  // guarded by mutex_
};

}  // namespace djkivo::demo
