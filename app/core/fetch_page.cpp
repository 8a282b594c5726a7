// FetchPage and the page client's configuration. Covered by tests/app/core/fetch_page_test.cpp.
#include "app/core/fetch_page.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <random>
#include <utility>

#include "net/http_client.h"
#include "net/http_decoders.h"

namespace djkivo::app {

namespace {

std::atomic<Waiter*> g_waiter{nullptr};

}  // namespace

Waiter& Waiter::Current() {
  static BlockingWaiter blocking;
  Waiter* installed = g_waiter.load(std::memory_order_acquire);
  return installed ? *installed : blocking;
}

void Waiter::Install(Waiter* waiter) { g_waiter.store(waiter, std::memory_order_release); }

std::string RandomUserAgent() {
  // Seeded from the clock and the system's entropy on each thread's first use, so two loads
  // in the same second still differ.
  thread_local std::mt19937 generator(
      std::random_device{}() ^
      static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> number(0, 99998);
  return "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; " + std::to_string(number(generator)) +
         "; .NET CLR 2.0.50727)";
}

void ConfigurePageClient(net::THttpClient& client, net::THttpDecompressor& decompressor) {
  client.SetHandleRedirects(true);
  client.SetCompressor(&decompressor);
  net::THttpRequest& request = client.Request();
  request.accept =
      "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, */*";
  request.accept_language = "zh-cn";
  request.accept_encoding = "gzip, deflate";
  request.user_agent = RandomUserAgent();
}

bool FetchPage(const std::string& address, std::string& text, std::string* error) {
  bool ok = false;
  std::string body;
  std::string message;
  Waiter::Current().Run([&] {
    // Every failure of a page load is reported as false; the caller leaves its view as it was.
    try {
      net::THttpDecompressor decompressor;
      net::THttpClient client;
      ConfigurePageClient(client, decompressor);
      client.GetToStream(address, body);
      ok = true;
    } catch (const std::exception& failure) {
      message = failure.what();
    } catch (...) {
      message = "Unknown error";
    }
  });
  if (ok)
    text = std::move(body);
  else if (error)
    *error = std::move(message);
  return ok;
}

}  // namespace djkivo::app
