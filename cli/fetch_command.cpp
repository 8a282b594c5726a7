// djkivo-cli fetch URL: one page load as the player does it, body bytes to stdout.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/core/fetch_page.h"
#include "cli/command.h"
#include "net/http_client.h"

namespace djkivo::cli {

namespace {

// Unlike FetchPage, which only says whether the load worked, the tool reports why it failed.
int RunFetch(const CliOptions&, const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: djkivo-cli fetch URL\n");
    return kExitUsage;
  }
  std::string body;
  try {
    net::THttpDecompressor decompressor;
    net::THttpClient client;
    app::ConfigurePageClient(client, decompressor);
    client.GetToStream(args[0], body);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  if (std::fwrite(body.data(), 1, body.size(), stdout) != body.size() || std::fflush(stdout) != 0) {
    std::perror("djkivo-cli fetch: stdout");
    return 1;
  }
  return 0;
}

}  // namespace

const Command kFetchCommand = {"fetch", "URL", RunFetch};

}  // namespace djkivo::cli
