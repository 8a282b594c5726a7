// Page loads from nginx on loopback with our client and with libcurl (a fresh easy handle per
// request, as each page load has a fresh client), over HTTP and HTTPS, and our inflate against
// zlib's own. Prints the median time of each and one `measure:` line per case.
//
// Over HTTPS both clients run on the same OpenSSL and trust the same test CA, made at start.
// "https_get_60k_gzip" makes a full handshake on every load (ours forgets its sessions first;
// libcurl's fresh easy handle has none). "https_10_pages" loads ten pages of one category in
// a row, each with a fresh client or easy handle: ours resumes the TLS session it keeps per
// host, libcurl resumes through a share handle holding its session cache.
//
// nginx serves the gzip pages pre-compressed (gzip_static): compressing 5 MB on every request
// would cost nginx far more than either client spends, and on a shared machine its noise
// would drown the difference between the clients that this measures. The tests cover
// nginx's on-the-fly gzip with chunked framing.
#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/fetch_page.h"
#include "net/byte_sink.h"
#include "net/http_client.h"
#include "net/http_decoders.h"
#include "net/tls_context.h"
#include "tests/support/compressed.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_certificates.h"

namespace {

using namespace djkivo;
using Clock = std::chrono::steady_clock;

double MedianMs(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// Runs `ours` and `anchor` `rounds` times, alternating so that drift of a shared machine hits
// both alike; returns the two medians in milliseconds.
std::pair<double, double> Compare(int rounds, const std::function<void()>& ours,
                                  const std::function<void()>& anchor) {
  std::vector<double> ours_ms, anchor_ms;
  const auto time = [](const std::function<void()>& fn) {
    const auto start = Clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  ours();  // warm both up: the page cache, nginx, the allocator
  anchor();
  for (int i = 0; i < rounds; ++i) {
    ours_ms.push_back(time(ours));
    anchor_ms.push_back(time(anchor));
  }
  return {MedianMs(ours_ms), MedianMs(anchor_ms)};
}

// The CA file both clients trust for HTTPS (the test CA).
std::string g_ca_file;

std::string OurGet(const std::string& url) {
  net::THttpDecompressor decompressor;
  net::THttpClient client;
  app::ConfigurePageClient(client, decompressor);
  client.SetNetworkSettings({.proxy = "", .ca_file = g_ca_file});
  std::string body;
  client.GetToStream(url, body);
  client.Disconnect();
  return body;
}

std::size_t CurlWrite(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

std::string CurlGet(const std::string& url, bool compressed, CURLSH* share = nullptr) {
  CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, g_ca_file.c_str());
  if (share)
    curl_easy_setopt(curl, CURLOPT_SHARE, share);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CurlWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, app::RandomUserAgent().c_str());
  if (compressed)
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  const CURLcode status = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (status != CURLE_OK)
    throw std::runtime_error(std::string("libcurl: ") + curl_easy_strerror(status));
  return body;
}

std::string OurInflate(const std::string& gz) {
  std::string out;
  net::StringSink sink(out);
  net::THttpDecompressor decompressor;
  const auto decoder = decompressor.DecoderFor("gzip", sink);
  decoder->Write(gz);
  decoder->Finish();
  return out;
}

// zlib alone, as a program would use it on a buffer in memory: one inflate into a string
// grown in blocks of the same size as ours.
std::string ZlibInflate(const std::string& gz) {
  z_stream z{};
  inflateInit2(&z, 15 + 16);
  std::string out;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  char block[65536];
  int status = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(block);
    z.avail_out = sizeof block;
    status = inflate(&z, Z_NO_FLUSH);
    out.append(block, sizeof block - z.avail_out);
  } while (status == Z_OK);
  inflateEnd(&z);
  return out;
}

void Report(const char* name, const std::pair<double, double>& medians, const char* target,
            const char* anchor_name) {
  std::printf("%-20s ours %9.3f ms   %-7s %9.3f ms   ratio %.3f\n", name, medians.first,
              anchor_name, medians.second, medians.first / medians.second);
  std::printf("measure: %s ours=%.3f anchor=%.3f ratio=%.3f target=%s unit=ms\n", name,
              medians.first, medians.second, medians.first / medians.second, target);
}

}  // namespace

int main() {
  if (!test::NginxServer::Available()) {
    std::fprintf(stderr, "http_bench: nginx is not installed\n");
    return 1;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  test::TempFolder root;
  const std::string page = test::PageText(60 * 1024, 11);
  const std::string big = test::PageText(5 << 20, 12);
  // The gzip body of the 5 MB page, as served and as decoded alone.
  const std::string big_gz = test::Gzip(big);
  root.Write("page.html", page);
  root.Write("page.html.gz", test::Gzip(page));
  root.Write("plain/page.html", page);
  root.Write("big.html", big);
  root.Write("big.html.gz", big_gz);
  // Ten pages of one category, as the HTTPS run loads them in a row.
  std::vector<std::string> category;
  for (int number = 1; number <= 10; ++number) {
    category.push_back(test::PageText(60 * 1024, 100 + number));
    root.Write("sort/list_" + std::to_string(number) + ".html.gz", test::Gzip(category.back()));
  }
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  g_ca_file = certificates.CaFile();
  const test::ServerFiles& tls = certificates.Files(test::ServerCertificate::kGood);
  test::NginxServer nginx("gzip_static on;\n", root.Path(),
                          {.certificate_file = tls.certificate_file, .key_file = tls.key_file});
  const std::string gz_url = nginx.Url("/page.html");
  const std::string tls_url = nginx.TlsUrl("/page.html");
  const auto category_url = [&](int number) {
    return nginx.TlsUrl("/sort/list_" + std::to_string(number) + ".html");
  };
  const std::string plain_url = nginx.Url("/plain/page.html");
  const std::string big_url = nginx.Url("/big.html");
  CURLSH* share = curl_share_init();
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  bool right = OurGet(gz_url) == page && CurlGet(gz_url, true) == page &&
               OurGet(plain_url) == page && OurGet(big_url) == big &&
               CurlGet(big_url, true) == big && OurGet(tls_url) == page &&
               CurlGet(tls_url, true) == page;
  for (int i = 0; i < 10; ++i)
    right = right && OurGet(category_url(i + 1)) == category[i] &&
            CurlGet(category_url(i + 1), true, share) == category[i];
  if (!right) {
    std::fprintf(stderr, "http_bench: a client returned the wrong bytes\n");
    return 1;
  }
  for (const std::string& url : {gz_url, big_url}) {
    net::THttpClient client;
    client.Request().accept_encoding = "gzip";
    std::string body;
    client.GetToStream(url, body);
    if (client.Response().content_encoding != "gzip") {
      std::fprintf(stderr, "http_bench: nginx did not send %s gzip-encoded\n", url.c_str());
      return 1;
    }
  }
  if (OurInflate(big_gz) != big || ZlibInflate(big_gz) != big) {
    std::fprintf(stderr, "http_bench: inflate returned the wrong bytes\n");
    return 1;
  }

  std::printf("median time per fetch over loopback nginx (fresh client / easy handle each)\n");
  Report("http_get_60k_gzip",
         Compare(
             400, [&] { OurGet(gz_url); }, [&] { CurlGet(gz_url, true); }),
         "<=1.0", "libcurl");
  Report("http_get_60k_plain",
         Compare(
             400, [&] { OurGet(plain_url); }, [&] { CurlGet(plain_url, false); }),
         "<=1.0", "libcurl");
  Report("http_get_5m_gzip",
         Compare(
             30, [&] { OurGet(big_url); }, [&] { CurlGet(big_url, true); }),
         "<=1.0", "libcurl");
  std::printf("median time per fetch over loopback nginx with TLS (full handshake each)\n");
  const std::shared_ptr<net::TTlsContext> sessions = net::TTlsContext::Shared(g_ca_file);
  Report("https_get_60k_gzip",
         Compare(
             300,
             [&] {
               sessions->ForgetSessions();
               OurGet(tls_url);
             },
             [&] { CurlGet(tls_url, true); }),
         "<=1.0", "libcurl");
  std::printf("median time for ten pages of one category in a row over TLS (sessions resumed)\n");
  Report("https_10_pages",
         Compare(
             40,
             [&] {
               for (int i = 1; i <= 10; ++i)
                 OurGet(category_url(i));
             },
             [&] {
               for (int i = 1; i <= 10; ++i)
                 CurlGet(category_url(i), true, share);
             }),
         "<=1.0", "libcurl");
  curl_share_cleanup(share);
  std::printf("decoding the 5 MB page's gzip body (%zu bytes) in memory\n", big_gz.size());
  Report("inflate_5m",
         Compare(
             30, [&] { OurInflate(big_gz); }, [&] { ZlibInflate(big_gz); }),
         "<=1.1", "zlib");
  curl_global_cleanup();
  return 0;
}
