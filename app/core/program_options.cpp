#include "app/core/program_options.h"

namespace djkivo::app {

std::vector<CommandLineOption> SharedOptionTable(SharedOptions& o) {
  return {
      {"--catalogue-host", "HOST[:PORT]", "the catalogue site (lists, songs, streams)",
       &o.catalogue_host},
      {"--home-host", "HOST[:PORT]", "the home site (version file, home page)", &o.home_host},
      {"--playlist", "PATH", "the play list file (default: ~/.local/share/djkivo/mylist.txt)",
       &o.playlist},
      {"--device", "DEVICE", "portaudio (the default), null or wav:PATH", &o.device},
      {"--ca-file", "PATH", "trust the CA certificates in PATH beside the system's", &o.ca_file},
      {"--proxy", "URL", "the HTTP proxy [http://][USER:PASSWORD@]HOST[:PORT]", &o.proxy},
      {"--reconnect-minutes", "N", "reconnect a dropped stream for N minutes (default 3; 0: never)",
       &o.reconnect_minutes},
      {"--help", "", "print this help and exit", &o.help, "-h"},
      {"--version", "", "print the version and exit", &o.version},
  };
}

net::TNetworkSettings NetworkSettings(const SharedOptions& options) {
  return {.proxy = options.proxy, .ca_file = options.ca_file};
}

std::vector<CommandLineOption> WindowOptionTable(WindowOptions& o) {
  std::vector<CommandLineOption> table = {
      {"--demo", "", "run on the embedded demo site", &o.demo},
      {"--tls", "", "with --demo: the demo site over HTTPS, trusted for this run", &o.tls},
      {"--screenshot", "PNG", "play a song, save a picture of the window, quit", &o.screenshot},
      {"--new-instance", "", "run beside a running player, on another play list", &o.new_instance},
      {"--no-notifications", "", "no desktop notification when a song starts", &o.no_notifications},
  };
  for (const CommandLineOption& option : SharedOptionTable(o))
    table.push_back(option);
  return table;
}

WindowOptions ParseWindowOptions(const std::vector<std::string>& args) {
  WindowOptions options;
  const std::size_t end = ParseOptions(args, WindowOptionTable(options));
  if (end < args.size())
    throw EUsageError("unexpected argument: " + args[end]);
  return options;
}

std::string WindowUsageText() {
  WindowOptions unused;
  return UsageText("djkivo [OPTION]...", WindowOptionTable(unused),
                   "Without --catalogue-host, here or in the settings file, the window runs on\n"
                   "the demo site. A host may start with https://. --proxy wins over http_proxy,\n"
                   "https_proxy and all_proxy; no_proxy applies to both.\n");
}

std::string VersionText(std::string_view program) {
  return std::string(program) + " " DJKIVO_VERSION "\n";
}

}  // namespace djkivo::app
