// A category load as the window does it (FetchPage of a 30-row gzip page from the demo site on
// loopback, then the scrape) against libcurl + PCRE2-JIT doing the same in the same run; and a
// 20-entry play list save + load round trip.
//
// Loads of the two sides alternate, so both see the same machine load; each side's figure is
// its median. Both sides open a fresh connection per load, as the player does. The anchor's
// patterns are compiled once (the player compiles per load), so the anchor is the stronger side.
#include <curl/curl.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/fetch_page.h"
#include "app/core/my_list.h"
#include "app/core/scrapers.h"
#include "bench/measure.h"
#include "demo/demo_site.h"
#include "tests/support/pcre2_scraper.h"

namespace {

using djkivo::bench::Median;
using djkivo::bench::PrintMeasure;

namespace fs = std::filesystem;
using namespace djkivo;
using Clock = std::chrono::steady_clock;

constexpr int kLoads = 300;                             // per side
constexpr auto kLoadBudget = std::chrono::seconds(30);  // stop early on a very slow machine
constexpr int kRoundTrips = 300;
constexpr double kLoadTarget = 1.2;
constexpr double kRoundTripTargetMs = 1.0;

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[static_cast<std::size_t>(p * (values.size() - 1))];
}

std::size_t OnCurlData(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// libcurl side: a fresh handle per load with the player's request headers and gzip decoding.
bool CurlFetch(const std::string& address, std::string& body) {
  CURL* curl = curl_easy_init();
  if (!curl)
    return false;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers,
                              "Accept: image/gif, image/x-xbitmap, image/jpeg, "
                              "image/pjpeg, application/x-shockwave-flash, */*");
  headers = curl_slist_append(headers, "Accept-Language: zh-cn");
  curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(curl, CURLOPT_USERAGENT, app::RandomUserAgent().c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnCurlData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const bool ok = curl_easy_perform(curl) == CURLE_OK;
  curl_easy_cleanup(curl);
  curl_slist_free_all(headers);
  return ok;
}

fs::path MakeFolder(const char* name) {
  std::string pattern = (fs::temp_directory_path() / name).string() + ".XXXXXX";
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("cannot create a temporary folder");
  return pattern;
}

int CategoryLoad() {
  const fs::path folder = MakeFolder("catalogue_bench_site");
  demo::DemoSiteOptions options;
  options.cache_folder = folder.string();
  demo::DemoSite site(options);
  site.Start();
  const std::string address = site.BaseAddress() + "/_f/gzip/dance/sort/recommend_1.html";

  test::Pcre2Pattern block(app::kCategoryBlockPattern);
  test::Pcre2Pattern row(app::kCategoryRowPattern);
  const auto ours = [&](std::size_t& rows) {
    std::string page;
    if (!app::FetchPage(address, page))
      return false;
    rows = app::ScrapeCategoryPage(std::move(page)).size();
    return true;
  };
  const auto anchor = [&](std::size_t& rows) {
    std::string page;
    if (!CurlFetch(address, page))
      return false;
    rows = test::Pcre2ScrapeRows(std::move(page), block, row).size();
    return true;
  };

  // Both sides must read the same 30 rows before their times mean anything.
  std::size_t our_rows = 0, anchor_rows = 0;
  if (!ours(our_rows) || !anchor(anchor_rows) || our_rows != demo::kRowsPerPage ||
      anchor_rows != our_rows) {
    std::fprintf(stderr, "category_load: rows ours=%zu anchor=%zu, expected %d\n", our_rows,
                 anchor_rows, demo::kRowsPerPage);
    fs::remove_all(folder);
    return 1;
  }
  std::vector<double> our_us, anchor_us;
  const auto deadline = Clock::now() + kLoadBudget;
  for (int i = 0; i < kLoads && Clock::now() < deadline; ++i) {
    for (int side = 0; side < 2; ++side) {
      const bool ours_first = i % 2 == 0;
      const bool run_ours = (side == 0) == ours_first;
      std::size_t rows = 0;
      const auto start = Clock::now();
      const bool ok = run_ours ? ours(rows) : anchor(rows);
      const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      if (!ok || rows != demo::kRowsPerPage) {
        std::fprintf(stderr, "category_load: a %s load failed\n", run_ours ? "player" : "curl");
        fs::remove_all(folder);
        return 1;
      }
      (run_ours ? our_us : anchor_us).push_back(us);
    }
  }
  site.Stop();
  fs::remove_all(folder);
  std::printf("%-22s %10s %10s %10s %8s\n", "category load (us)", "median", "p10", "p90", "loads");
  std::printf("%-22s %10.1f %10.1f %10.1f %8zu\n", "FetchPage + scrape", Median(our_us),
              Percentile(our_us, 0.1), Percentile(our_us, 0.9), our_us.size());
  std::printf("%-22s %10.1f %10.1f %10.1f %8zu\n", "libcurl + PCRE2-JIT", Median(anchor_us),
              Percentile(anchor_us, 0.1), Percentile(anchor_us, 0.9), anchor_us.size());
  char target[16];
  std::snprintf(target, sizeof target, "<=%.1f", kLoadTarget);
  PrintMeasure("category_load", Median(our_us), Median(anchor_us), target, "us");
  return 0;
}

int PlayListRoundTrip() {
  const fs::path folder = MakeFolder("catalogue_bench_list");
  const std::string path = (folder / "mylist.txt").string();
  app::TMyList list(path);
  for (int i = 0; i < 20; ++i)
    list.Add({"\xB9\xB7\xCE\xB2\xB2\xDD remix " + std::to_string(i) + std::string(30, 'x'),
              "DJ uploader", std::to_string(230000 + i)});
  std::vector<double> ms;
  for (int i = 0; i < kRoundTrips; ++i) {
    const auto start = Clock::now();
    list.SaveMyList();
    app::TMyList loaded(path);
    loaded.Load();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (loaded.MyList() != list.MyList()) {
      std::fprintf(stderr, "playlist_roundtrip: the loaded list differs\n");
      fs::remove_all(folder);
      return 1;
    }
  }
  fs::remove_all(folder);
  std::printf("%-22s %10s %10s %10s %8s\n", "play list (ms)", "median", "p10", "p90", "trips");
  std::printf("%-22s %10.3f %10.3f %10.3f %8zu\n", "save + load, 20", Median(ms),
              Percentile(ms, 0.1), Percentile(ms, 0.9), ms.size());
  char target[16];
  std::snprintf(target, sizeof target, "<=%.0f", kRoundTripTargetMs);
  PrintMeasure("playlist_roundtrip", Median(ms), 0, target, "ms");
  return 0;
}

}  // namespace

int main() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  int status = 0;
  try {
    status = CategoryLoad() | PlayListRoundTrip();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "catalogue_bench: %s\n", error.what());
    status = 1;
  }
  curl_global_cleanup();
  return status;
}
