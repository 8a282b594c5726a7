#include "app/core/window_options.h"

#include <stdexcept>

namespace djkivo::app {

const char* const kWindowUsage =
    "usage: djkivo [--demo] [--catalogue-host HOST[:PORT]] [--home-host HOST[:PORT]]\n"
    "              [--playlist PATH] [--device portaudio|null|wav:PATH] [--screenshot PNG]\n";

WindowOptions ParseWindowOptions(const std::vector<std::string>& args) {
  WindowOptions options;
  struct ValueOption {
    std::string_view name;
    std::string* value;
  };
  const ValueOption value_options[] = {
      {"--catalogue-host", &options.catalogue_host},
      {"--home-host", &options.home_host},
      {"--playlist", &options.playlist},
      {"--device", &options.device},
      {"--screenshot", &options.screenshot},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--demo") {
      options.demo = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    bool known = false;
    for (const ValueOption& option : value_options) {
      if (arg == option.name) {
        if (i + 1 >= args.size() || args[i + 1].empty())
          throw std::invalid_argument("option " + arg + " needs a value");
        *option.value = args[++i];
        known = true;
        break;
      }
      if (arg.size() > option.name.size() && arg.compare(0, option.name.size(), option.name) == 0 &&
          arg[option.name.size()] == '=') {
        *option.value = arg.substr(option.name.size() + 1);
        if (option.value->empty())
          throw std::invalid_argument("option " + std::string(option.name) + " needs a value");
        known = true;
        break;
      }
    }
    if (!known)
      throw std::invalid_argument(
          (arg.rfind("-", 0) == 0 ? "unknown option: " : "unexpected argument: ") + arg);
  }
  return options;
}

}  // namespace djkivo::app
