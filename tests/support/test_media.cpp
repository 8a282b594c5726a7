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

#include <unistd.h>

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
// Noise first (the highest bit rates), a quiet tone after it (the lowest).
constexpr const char* kNoiseThenToneExpression =
    "aevalsrc=if(lt(t\\,1)\\,random(0)-0.5\\,0.01*sin(2*PI*440*t))"
    "|if(lt(t\\,1)\\,random(1)-0.5\\,0.01*sin(2*PI*554*t))";

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
      {TestMedia::kMp3VbrNoXing,
       {"vbr-noxing",
        "mp3",
        44100,
        2,
        {"-c:a", "libmp3lame", "-q:a", "2", "-write_xing", "0", "-id3v2_version", "0"}}},
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

// Bump when a recipe changes: files of an older recipe then stay out of the way.
constexpr const char* kRecipeVersion = "v1";

// The folder and the files made so far. In the build tree the files are kept for later runs
// (each test of a suite runs as a process of its own); elsewhere they go with the process.
struct Store {
  std::mutex mutex;
  fs::path folder;  // --- guarded by mutex
  std::unique_ptr<TempFolder> temporary;
  std::map<std::pair<TestMedia, int>, std::string> made;
};

Store& TheStore() {
  static Store store;
  return store;
}

fs::path FolderLocked(Store& store) {
  if (store.folder.empty()) {
#ifdef DJKIVO_BINARY_DIR
    store.folder = fs::path(DJKIVO_BINARY_DIR) / (std::string("test-media-") + kRecipeVersion);
    fs::create_directories(store.folder);
#else
    store.temporary = std::make_unique<TempFolder>();
    store.folder = store.temporary->Path();
#endif
  }
  return store.folder;
}

void RunFfmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), {kFfmpegTool, "-nostdin", "-v", "error", "-y"});
  const ProcessResult result = RunProcess(args);
  if (result.exit_code != 0)
    throw std::runtime_error("the ffmpeg tool failed making a test file: " + result.err);
}

std::string TestMediaPathLocked(TestMedia media, int seconds, Store& store);

void Make(TestMedia media, int seconds, const fs::path& path, Store& store) {
  const Recipe& recipe = RecipeOf(media);
  const std::string length = std::to_string(seconds);
  if (media == TestMedia::kVideoOnly) {
    RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-t", length, "-c:v", "mpeg4",
               path.string()});
  } else if (media == TestMedia::kTruncatedMp3 || media == TestMedia::kRandomBytes) {
    std::string bytes;
    if (media == TestMedia::kTruncatedMp3) {
      std::ifstream in(TestMediaPathLocked(TestMedia::kMp3Cbr128, seconds, store),
                       std::ios::binary);
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
    const char* source =
        media == TestMedia::kMp3VbrNoXing ? kNoiseThenToneExpression : kToneExpression;
    std::vector<std::string> args = {
        "-f", "lavfi", "-i",  std::string(source) + ":s=" + std::to_string(recipe.rate),
        "-t", length,  "-ac", std::to_string(recipe.channels)};
    args.insert(args.end(), recipe.codec.begin(), recipe.codec.end());
    args.push_back(path.string());
    RunFfmpeg(args);
  }
}

std::string TestMediaPathLocked(TestMedia media, int seconds, Store& store) {
  auto found = store.made.find({media, seconds});
  if (found != store.made.end())
    return found->second;
  const fs::path folder = FolderLocked(store);
  const std::string name = TestMediaFileName(media, seconds);
  const fs::path path = folder / name;
  if (!fs::exists(path)) {
    // Made under a name of this process's own and renamed into place, so processes making
    // the same file at once never see half of it.
    const fs::path part = folder / ("part-" + std::to_string(getpid()) + "-" + name);
    Make(media, seconds, part, store);
    fs::rename(part, path);
  }
  return store.made[{media, seconds}] = path.string();
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
  return TestMediaPathLocked(media, seconds, store);
}

std::vector<std::uint8_t> DecodeWithFfmpegTool(const std::string& path) {
  const ProcessResult result =
      RunProcess({kFfmpegTool, "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f",
                  "s16le", "-c:a", "pcm_s16le", "-"});
  if (result.exit_code != 0)
    throw std::runtime_error("the ffmpeg tool failed decoding " + path + ": " + result.err);
  return std::vector<std::uint8_t>(result.out.begin(), result.out.end());
}

std::string ToolPcm(const std::string& path) {
  const std::vector<std::uint8_t> pcm = DecodeWithFfmpegTool(path);
  return std::string(pcm.begin(), pcm.end());
}

}  // namespace djkivo::test
