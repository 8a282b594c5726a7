#include "tests/support/test_media.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <utility>

#include "tests/support/run_process.h"
#include "tests/support/temp_folder.h"

namespace djkivo::test {
namespace {

namespace fs = std::filesystem;

// A tone mix with a little noise, different on the two channels, so lossy encoders have
// something to work on and a channel swap would show.
constexpr const char* kToneExpression =
    "aevalsrc=0.35*sin(2*PI*440*t)+0.2*sin(2*PI*1250*t)+0.03*(random(0)-0.5)"
    "|0.3*sin(2*PI*554*t)+0.15*sin(2*PI*3100*t)+0.03*(random(1)-0.5)";

struct Recipe {
  const char* name;
  const char* extension;
  int rate;
  int channels;
  std::vector<std::string> codec;  // encoder options
};

const Recipe& RecipeOf(TestMedia media) {
  static const std::map<TestMedia, Recipe> kRecipes = {
      {TestMedia::kMp3Cbr128, {"cbr128", "mp3", 44100, 2, {"-c:a", "libmp3lame", "-b:a", "128k"}}},
      {TestMedia::kMp3Cbr320, {"cbr320", "mp3", 44100, 2, {"-c:a", "libmp3lame", "-b:a", "320k"}}},
      {TestMedia::kMp3Vbr, {"vbr", "mp3", 44100, 2, {"-c:a", "libmp3lame", "-q:a", "2"}}},
      {TestMedia::kWma, {"wmav2", "wma", 44100, 2, {"-c:a", "wmav2", "-b:a", "128k"}}},
      {TestMedia::kOggVorbis, {"vorbis", "ogg", 44100, 2, {"-c:a", "libvorbis", "-q:a", "4"}}},
      {TestMedia::kWav8Mono, {"u8mono", "wav", 11025, 1, {"-c:a", "pcm_u8"}}},
      {TestMedia::kWav8Stereo, {"u8stereo", "wav", 22050, 2, {"-c:a", "pcm_u8"}}},
      {TestMedia::kWav16Mono, {"s16mono", "wav", 32000, 1, {"-c:a", "pcm_s16le"}}},
      {TestMedia::kWav16Stereo, {"s16stereo", "wav", 44100, 2, {"-c:a", "pcm_s16le"}}},
      {TestMedia::kVideoOnly, {"video", "avi", 0, 0, {}}},
      {TestMedia::kTruncatedMp3, {"truncated", "mp3", 0, 0, {}}},
      {TestMedia::kRandomBytes, {"random", "mp3", 0, 0, {}}},
  };
  return kRecipes.at(media);
}

// The folder and the files made so far; the folder is removed when the process ends.
struct Store {
  std::mutex mutex;
  std::unique_ptr<TempFolder> folder;  // --- guarded by mutex
  std::map<std::pair<TestMedia, int>, std::string> made;
};

Store& TheStore() {
  static Store store;
  return store;
}

fs::path FolderLocked(Store& store) {
  if (!store.folder)
    store.folder = std::make_unique<TempFolder>();
  return store.folder->Path();
}

void RunFfmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {kFfmpegTool, "-nostdin", "-v", "error", "-y"});
  const ProcessResult result = RunProcess(args);
  if (result.exit_code != 0)
    throw std::runtime_error("the ffmpeg tool failed making a test file: " + result.err);
}

void Make(TestMedia media, int seconds, const fs::path& path, Store& store) {
  const Recipe& recipe = RecipeOf(media);
  const std::string length = std::to_string(seconds);
  if (media == TestMedia::kVideoOnly) {
    RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-t", length, "-c:v", "mpeg4",
               path.string()});
  } else if (media == TestMedia::kTruncatedMp3 || media == TestMedia::kRandomBytes) {
    std::string bytes;
    if (media == TestMedia::kTruncatedMp3) {
      // Made under the store's lock like any other file: the whole MP3 first.
      fs::path whole = FolderLocked(store) / TestMediaFileName(TestMedia::kMp3Cbr128, seconds);
      if (!fs::exists(whole))
        Make(TestMedia::kMp3Cbr128, seconds, whole, store);
      std::ifstream in(whole, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
      bytes.resize(bytes.size() * 2 / 5);
    } else {
      std::mt19937 random(20261209);
      bytes.resize(64 * 1024);
      for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
      throw std::runtime_error("cannot write a test file");
  } else {
    std::vector<std::string> args = {"-f", "lavfi", "-i",
                                     std::string(kToneExpression) + ":s=" +
                                         std::to_string(recipe.rate),
                                     "-t", length, "-ac", std::to_string(recipe.channels)};
    args.insert(args.end(), recipe.codec.begin(), recipe.codec.end());
    args.push_back(path.string());
    RunFfmpeg(args);
  }
}

}  // namespace

std::string TestMediaFileName(TestMedia media, int seconds) {
  const Recipe& recipe = RecipeOf(media);
  return std::string(recipe.name) + "-" + std::to_string(seconds) + "s." + recipe.extension;
}

std::string TestMediaFolder() {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  return FolderLocked(store).string();
}

std::string TestMediaPath(TestMedia media, int seconds) {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  auto found = store.made.find({media, seconds});
  if (found != store.made.end())
    return found->second;
  const fs::path path = FolderLocked(store) / TestMediaFileName(media, seconds);
  if (!fs::exists(path))
    Make(media, seconds, path, store);
  return store.made[{media, seconds}] = path.string();
}

std::vector<std::uint8_t> DecodeWithFfmpegTool(const std::string& path) {
  const ProcessResult result =
      RunProcess({kFfmpegTool, "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f",
                  "s16le", "-c:a", "pcm_s16le", "-"});
  if (result.exit_code != 0)
    throw std::runtime_error("the ffmpeg tool failed decoding " + path + ": " + result.err);
  return std::vector<std::uint8_t>(result.out.begin(), result.out.end());
}

}  // namespace djkivo::test
