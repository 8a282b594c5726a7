// djkivo-demo-site: the embedded demo site as a program of its own, for trying the player or
// the command-line tool against it by hand.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "demo/demo_site.h"

namespace {

constexpr const char* kUsage =
    "usage: djkivo-demo-site [--port N] [--cache DIR] [--version-body TEXT] [--short-songs]\n"
    "                        [--fault SWITCHES] [--stream-fault SWITCHES] [--tls CERT KEY]\n"
    "Serves the demo catalogue on 127.0.0.1 until interrupted; with --tls over HTTPS, with the\n"
    "certificate (then its chain) in the PEM file CERT and its key in the PEM file KEY.\n"
    "SWITCHES is a comma-separated list of gzip, chunked, redirect=N, slow=BYTES_PER_S,\n"
    "stall=S[@BYTES], truncate=BYTES, reset[=BYTES], 404, drop=S@BYTE, delay=MS, norange,\n"
    "nolength, grow=BYTES; --fault applies to pages, --stream-fault to the audio streams.\n";

}  // namespace

int main(int argc, char** argv) {
  using djkivo::demo::DemoSite;
  djkivo::demo::DemoSiteOptions options;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc)
          throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--port") {
        std::string text = value();
        char* end = nullptr;
        long port = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end || port < 0 || port > 65535)
          throw std::invalid_argument("Bad port \"" + text + "\"");
        options.port = static_cast<std::uint16_t>(port);
      } else if (arg == "--cache") {
        options.cache_folder = value();
      } else if (arg == "--version-body") {
        options.version_body = value();
      } else if (arg == "--short-songs") {
        options.song_length = djkivo::demo::SongLength::kShort;
      } else if (arg == "--fault") {
        options.page_faults = djkivo::demo::ParseFaults(value());
      } else if (arg == "--stream-fault") {
        options.stream_faults = djkivo::demo::ParseFaults(value());
      } else if (arg == "--tls") {
        options.tls_certificate_file = value();
        options.tls_key_file = value();
      } else if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      } else {
        throw std::invalid_argument("Unknown option " + arg);
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "djkivo-demo-site: %s\n%s", error.what(), kUsage);
    return 64;
  }

  // The server's threads inherit the blocked signals, so only sigwait below receives them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  try {
    DemoSite site(options);
    site.Start();
    std::printf("%s/\n", site.BaseAddress().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    site.Stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "djkivo-demo-site: %s\n", error.what());
    return 1;
  }
  return 0;
}
