// Audio files for tests and benchmarks, made at run time by the `ffmpeg` tool from generated
// tones, so no recording is ever checked in. Free of GoogleTest: benchmarks use it too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace djkivo::test {

/// The kinds of test file. Unless noted, a file holds a stereo 44.1 kHz tone mix.
enum class TestMedia {
  kMp3Cbr128,     // MP3, constant 128 kbit/s
  kMp3Cbr320,     // MP3, constant 320 kbit/s
  kMp3Vbr,        // MP3, variable bit rate (LAME quality 2, with a Xing header)
  kMp3VbrNoXing,  // MP3, variable bit rate without a Xing header: a second of loud noise,
                  // then a quiet tone, so a length guessed from the first frames is far short
  kWma,           // WMA (wmav2) in ASF, 128 kbit/s
  kOggVorbis,     // Ogg Vorbis
  kWav8Mono,      // WAV, 8-bit unsigned, mono, 11025 Hz
  kWav8Stereo,    // WAV, 8-bit unsigned, stereo, 22050 Hz
  kWav16Mono,     // WAV, 16-bit, mono, 32000 Hz
  kWav16Stereo,   // WAV, 16-bit, stereo, 44100 Hz
  kVideoOnly,     // an AVI with one video stream and no audio
  kTruncatedMp3,  // the first 40 % of the 128 kbit/s MP3
  kRandomBytes,   // 64 KiB of pseudo-random bytes named .mp3
};

/// Seconds of tone in a file unless the caller asks for another length.
inline constexpr int kTestMediaSeconds = 5;

/// Path of a test file of about `seconds` seconds, made on first use. The files are kept in the
/// build tree ("test-media-<recipe version>"), so the many processes of one test run (and
/// later runs) make each file once; several processes may ask for the same file at once.
/// Thread-safe. Throws std::runtime_error when the tool fails.
std::string TestMediaPath(TestMedia media, int seconds = kTestMediaSeconds);

/// The file name (with extension) a kind of test file has, for URLs on a test server.
std::string TestMediaFileName(TestMedia media, int seconds = kTestMediaSeconds);

/// The folder the test files are in (made on first use), for serving them over HTTP.
std::string TestMediaFolder();

/// What the `ffmpeg` tool decodes from `path`: interleaved signed 16-bit PCM at the file's
/// own rate and channel count. Throws std::runtime_error when the tool fails.
std::vector<std::uint8_t> DecodeWithFfmpegTool(const std::string& path);

/// The same decode as bytes in a string, for comparing with what a stage handed out.
std::string ToolPcm(const std::string& path);

/// The `ffmpeg` tool the test media are made and checked with.
inline constexpr const char* kFfmpegTool = "/usr/bin/ffmpeg";

}  // namespace djkivo::test
