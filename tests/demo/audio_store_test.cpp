#include "demo/audio_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "demo/demo_site.h"
#include "demo/synth.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wire_client.h"

namespace djkivo::demo {
namespace {

using test::TempFolder;

// Seconds of audio the ffmpeg tool decodes from `path`, counted in 8 kHz mono samples.
double DecodedSeconds(const std::string& path) {
  std::string command =
      "ffmpeg -nostdin -v error -i '" + path + "' -f s16le -ac 1 -ar 8000 - 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    return -1;
  std::size_t bytes = 0;
  char chunk[65536];
  while (std::size_t got = fread(chunk, 1, sizeof chunk, pipe))
    bytes += got;
  if (pclose(pipe) != 0)
    return -1;
  return static_cast<double>(bytes) / 2 / 8000;
}

TEST(SongSynthTest, SameSeedSameSoundWithBeatsAndFades) {
  constexpr double kSeconds = 6;
  SongSynth a(1234, kSeconds), b(1234, kSeconds), other(99, kSeconds);
  ASSERT_EQ(a.TotalFrames(), static_cast<std::int64_t>(kSeconds * SongSynth::kSampleRate));
  std::vector<float> left(a.TotalFrames() + 10), right(left.size()), l2(left.size()),
      r2(left.size());
  ASSERT_EQ(a.Render(left.data(), right.data(), static_cast<int>(left.size())), a.TotalFrames());
  EXPECT_EQ(a.Render(left.data(), right.data(), 100), 0);
  b.Render(l2.data(), r2.data(), static_cast<int>(l2.size()));
  EXPECT_EQ(left, l2);
  other.Render(l2.data(), r2.data(), static_cast<int>(l2.size()));
  EXPECT_NE(left, l2);

  // Loud enough, never clipping, silent at both ends, with a beat: the level of 50 ms windows
  // swings widely, as drums make it.
  double sum = 0, lowest = 1e9, highest = 0;
  const int window = SongSynth::kSampleRate / 20;
  for (std::int64_t start = SongSynth::kSampleRate;
       start + window < a.TotalFrames() - SongSynth::kSampleRate; start += window) {
    double energy = 0;
    for (int i = 0; i < window; ++i)
      energy += left[start + i] * left[start + i];
    lowest = std::min(lowest, energy / window);
    highest = std::max(highest, energy / window);
    sum += energy;
  }
  EXPECT_GT(highest, 4 * lowest);
  EXPECT_GT(highest, 0.01);
  for (std::int64_t i = 0; i < a.TotalFrames(); ++i)
    ASSERT_LE(std::fabs(left[i]), 1.0f);
  EXPECT_EQ(left[0], 0.0f);
  EXPECT_LT(std::fabs(left[a.TotalFrames() - 1]), 0.01f);
  EXPECT_NE(left, right);  // stereo
}

TEST(AudioStoreTest, EncodedSongsDecodeToTheirLengthAndAreMadeOnce) {
  TempFolder folder;
  AudioStore store((folder.Path() / "cache").string());
  store.Prepare();
  // Partial files of crashed encodes go at the next start once they are old.
  const std::string old_part = store.Folder() + "/1-1000ms-v2.mp3.part1-0";
  const std::string young_part = store.Folder() + "/1-1000ms-v2.mp3.part2-0";
  for (const std::string& path : {old_part, young_part})
    fclose(fopen(path.c_str(), "wb"));
  std::filesystem::last_write_time(
      old_part, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
  store.Prepare();
  EXPECT_FALSE(std::filesystem::exists(old_part));
  EXPECT_TRUE(std::filesystem::exists(young_part));
  std::filesystem::remove(young_part);
  DemoCatalogue catalogue(SongLength::kShort);
  DemoSong song = catalogue.Songs()[3];
  song.seconds = 4.5;
  struct Case {
    AudioFormat format;
    const char* codec;
  };
  for (Case c : {Case{AudioFormat::kMp3, "mp3"}, Case{AudioFormat::kWma, "wmav2"}}) {
    std::string path = store.Ensure(song, c.format, nullptr);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_NEAR(DecodedSeconds(path), song.seconds, 0.1) << path;
    std::string probe =
        "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + path + "'";
    FILE* pipe = popen(probe.c_str(), "r");
    char codec[64] = {};
    ASSERT_TRUE(fgets(codec, sizeof codec, pipe));
    pclose(pipe);
    EXPECT_EQ(std::string(codec), std::string(c.codec) + "\n");
    auto made = std::filesystem::last_write_time(path);
    EXPECT_EQ(store.Ensure(song, c.format, nullptr), path);
    EXPECT_EQ(std::filesystem::last_write_time(path), made);
  }
  // A cancelled encode leaves nothing behind, under either name.
  DemoSong other = catalogue.Songs()[4];
  EXPECT_THROW(store.Ensure(other, AudioFormat::kMp3, [] { return true; }), std::runtime_error);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(store.Folder()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST(AudioStoreTest, ServedShortSongsDecodeToTheirCatalogueLength) {
  TempFolder folder;
  DemoSiteOptions options;
  options.cache_folder = folder.Path().string();
  options.song_length = SongLength::kShort;
  DemoSite site(options);
  site.Start();
  for (int i : {0, 1, 7}) {
    const DemoSong& song = site.Catalogue().Songs()[static_cast<std::size_t>(i)];
    ASSERT_GE(song.seconds, 1.0);
    ASSERT_LE(song.seconds, 2.0);
    for (const char* extension : {".mp3", ".wma"}) {
      test::WireResponse response = test::Get(site.Port(), "/audio/" + song.id + extension);
      ASSERT_EQ(response.status, 200);
      std::string copy = (folder.Path() / (std::string("served") + extension)).string();
      FILE* out = fopen(copy.c_str(), "wb");
      fwrite(response.body.data(), 1, response.body.size(), out);
      fclose(out);
      EXPECT_NEAR(DecodedSeconds(copy), song.seconds, 0.1) << song.id << extension;
    }
  }
  DemoCatalogue normal(SongLength::kNormal);
  for (const DemoSong& song : normal.Songs()) {
    ASSERT_GE(song.seconds, 20.0);
    ASSERT_LE(song.seconds, 90.0);
  }
}

}  // namespace
}  // namespace djkivo::demo
