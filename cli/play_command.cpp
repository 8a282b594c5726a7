// djkivo-cli play: the player's whole audio chain without a window. Stream input, cache,
// spectrum analyser and sound output are wired as the window wires them. The exit status is 0
// only when the song played to its end (or to --seconds); a song that ended early through a
// network or decoding failure exits 1 with the reason on stderr.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/audio_error.h"
#include "audio/media_stream_in.h"
#include "audio/output/sound_out.h"
#include "base/main_thread.h"
#include "cli/command.h"

namespace djkivo::cli {
namespace {

constexpr const char* kUsage =
    "ADDRESS [--device portaudio|null|wav:PATH] [--seconds N] [--volume V] [--levels]";
// The bar graph of --levels: one character per band, from the -40 floor to about 120.
constexpr const char* kBarSteps = " .:-=+*#%@";
constexpr float kBarFloor = -40.0f;
constexpr float kBarCeiling = 120.0f;
// The longest the main loop sleeps when no event comes. It wakes at once for one, and the end
// of the song (OnDone) and a failure of the output's thread both come as events, so this only
// bounds the wait; a shorter step would wake an idle process for nothing.
constexpr std::chrono::milliseconds kPumpStep{60000};

struct PlayArgs {
  std::string address;
  std::string device;
  double seconds = 0;  // 0: to the end
  std::int32_t volume = 0;
  bool levels = false;
};

bool ParseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

// Parses the words after "play"; false (with a message on stderr) for wrong usage.
bool ParseArgs(const std::vector<std::string>& args, PlayArgs& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    double number = 0;
    if (arg == "--levels") {
      out.levels = true;
    } else if (arg == "--device" && has_value) {
      out.device = args[++i];
    } else if (arg == "--seconds" && has_value && ParseNumber(args[i + 1], number) && number > 0) {
      out.seconds = number;
      ++i;
    } else if (arg == "--volume" && has_value && ParseNumber(args[i + 1], number) &&
               number >= -10000 && number <= 0) {
      out.volume = static_cast<std::int32_t>(number);
      ++i;
    } else if (arg.rfind("--", 0) != 0 && out.address.empty()) {
      out.address = arg;
    } else {
      std::fprintf(stderr, "djkivo-cli play: bad argument: %s\n", arg.c_str());
      return false;
    }
  }
  if (out.address.empty()) {
    std::fprintf(stderr, "djkivo-cli play: no address\n");
    return false;
  }
  return true;
}

void PrintLevels(const TSpectrumLevels& levels) {
  std::string line;
  char number[32];
  for (float level : levels) {
    std::snprintf(number, sizeof number, "%.1f ", static_cast<double>(level));
    line += number;
  }
  line += '|';
  const int steps = static_cast<int>(std::char_traits<char>::length(kBarSteps)) - 1;
  for (float level : levels) {
    const float share = (level - kBarFloor) / (kBarCeiling - kBarFloor);
    const int step = static_cast<int>(std::lround(std::fmin(std::fmax(share, 0.0f), 1.0f) * steps));
    line += kBarSteps[step];
  }
  line += "|\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

int Play(const CliOptions& options, const std::vector<std::string>& args) {
  PlayArgs play;
  if (!ParseArgs(args, play))
    return kExitUsage;
  const std::string device_name = !play.device.empty() ? play.device : options.device;
  std::unique_ptr<SoundDevice> device = CreateSoundDevice(device_name);
  if (!device) {
    std::fprintf(stderr, "djkivo-cli play: unknown device: %s\n", device_name.c_str());
    return kExitUsage;
  }

  QueueMainThread main_thread;
  MainThread::Install(&main_thread);
  int status = 0;
  {
    TMediaStreamIn stream;
    TAudioCache cache;
    TSpectrumAnalyser analyser;
    TSoundOut output(std::move(device));
    stream.SetOrigin(AddressOrigin::kUser);  // the user named it: a local file is fine
    stream.SetFileName(play.address);
    if (options.reconnect_minutes >= 0)
      stream.SetReconnectMinutes(static_cast<std::uint32_t>(options.reconnect_minutes));
    cache.SetInput(&stream);
    analyser.SetInput(&cache);
    output.SetInput(&analyser);
    bool done = false;
    output.SetOnDone([&done](TComponent*) { done = true; });
    output.SetOnThreadException([&output, &status](TComponent*) {
      const std::string message = output.ErrorMessage();
      std::fprintf(stderr, "djkivo-cli play: %s\n",
                   message.empty() ? "the stream could not be played" : message.c_str());
      status = 1;
    });
    // Nobody sees the levels unless they are printed: the analysis is then left out.
    analyser.SetMeasuring(play.levels);
    if (play.levels)
      analyser.SetOnGainData([&analyser](TComponent*) { PrintLevels(analyser.Levels()); });
    try {
      output.SetVolume(play.volume);
      output.Run();
      const auto started = std::chrono::steady_clock::now();
      const auto limit = std::chrono::duration<double>(play.seconds);
      while (!done) {
        auto wait = kPumpStep;
        if (play.seconds > 0) {
          const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
              limit - (std::chrono::steady_clock::now() - started));
          if (left.count() <= 0)
            break;  // the Stop below ends the run
          wait = std::min(wait, left);
        }
        main_thread.Pump(wait);
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "djkivo-cli play: %s\n", error.what());
      status = 1;
    }
    output.Stop(false);
    // A song that ended before its end (a drop not ridden out, a stream that broke off or
    // could not be decoded) is a failure, though the chain itself ended normally.
    if (const std::string failure = stream.Failure(); status == 0 && !failure.empty()) {
      std::fprintf(stderr, "djkivo-cli play: %s\n", failure.c_str());
      status = 1;
    }
  }
  MainThread::Install(nullptr);
  return status;
}

}  // namespace

const Command kPlayCommand = {"play", kUsage, Play};

}  // namespace djkivo::cli
