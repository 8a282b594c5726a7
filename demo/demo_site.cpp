#include "demo/demo_site.h"

#include <stdlib.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "base/ascii.h"
#include "base/query_value.h"
#include "demo/audio_store.h"
#include "demo/certificates.h"
#include "demo/pages.h"

namespace djkivo::demo {
namespace {

// The request log keeps the newest entries only, so a long-running site does not grow.
constexpr std::size_t kMaxLogEntries = 10000;
constexpr std::string_view kFaultPrefix = "/_f/";

HttpResponse Page(int status, std::string reason, std::string content_type, std::string body) {
  HttpResponse response;
  response.status = status;
  response.reason = std::move(reason);
  response.headers = {{"Content-Type", std::move(content_type)}, {"Server", "djkivo-demo"}};
  response.body = std::move(body);
  return response;
}

HttpResponse Html(std::string body) {
  return Page(200, "OK", "text/html; charset=gb2312", std::move(body));
}

HttpResponse NotFound(std::string_view target) {
  return Page(404, "Not Found", "text/html", NotFoundPage(target));
}

// A positive page number of at most 9 digits; 0 when `text` is not one.
int PageNumber(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.size() > 9 || error != std::errc() || end != text.data() + text.size() ||
      value < 1)
    return 0;
  return value;
}

// The value of `name` in a query string, undecoded; nullopt-like empty view with `found` false.
std::string_view QueryValue(std::string_view query, std::string_view name, bool* found) {
  *found = false;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.substr(0, item.find('=')) == name) {
      *found = true;
      std::size_t eq = item.find('=');
      return eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    }
  }
  return {};
}

// The request's Host when it is a plain host[:port], else the site's own address.
std::string StreamHost(const HttpRequest& request, const std::string& own) {
  std::string host = request.Header("Host");
  if (host.empty() || host.size() > 255)
    return own;
  for (char c : host)
    if (!(IsAsciiAlnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' ||
          c == '[' || c == ']'))
      return own;
  return host;
}

// A new folder only its owner may enter, under the temporary folder.
std::string MakePrivateFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/djkivo-demo-tls-XXXXXX";
  if (!mkdtemp(path.data()))
    throw std::runtime_error("Cannot make a folder for the demo site's certificate: " +
                             std::string(std::strerror(errno)));
  return path;
}

void RemoveFolder(const std::string& path) {
  if (path.empty())
    return;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("Cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return std::move(out).str();
}

}  // namespace

std::string DefaultCacheFolder() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
    return std::string(xdg) + "/djkivo/demo-audio";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.cache/djkivo/demo-audio";
}

DemoSite::DemoSite(DemoSiteOptions options)
    : catalogue_(options.song_length),
      audio_(std::make_unique<AudioStore>(options.cache_folder.empty() ? DefaultCacheFolder()
                                                                       : options.cache_folder)),
      server_([this](const HttpRequest& request) { return Handle(request); }),
      requested_port_(options.port),
      version_body_(std::move(options.version_body)),
      page_faults_(options.page_faults),
      stream_faults_(options.stream_faults) {
  try {
    if (options.throwaway_tls) {
      certificate_folder_ = MakePrivateFolder();
      const ThrowawayCertificate made = MakeThrowawayCertificate(certificate_folder_);
      options.tls_certificate_file = made.certificate_file;
      options.tls_key_file = made.key_file;
      ca_file_ = made.ca_file;
    }
    tls_ = !options.tls_certificate_file.empty() && !options.tls_key_file.empty();
    if (tls_) {
      scheme_ = "https://";
      server_.EnableTls(std::make_shared<const TlsServerContext>(options.tls_certificate_file,
                                                                 options.tls_key_file));
    }
  } catch (...) {
    RemoveFolder(certificate_folder_);
    throw;
  }
}

DemoSite::~DemoSite() {
  Stop();
  RemoveFolder(certificate_folder_);
}

void DemoSite::Start() {
  audio_->Prepare();
  server_.Start(requested_port_);
}

void DemoSite::Stop() { server_.Stop(); }

std::string DemoSite::HostPort() const { return "127.0.0.1:" + std::to_string(Port()); }

std::string DemoSite::BaseAddress() const { return scheme_ + HostPort(); }

int DemoSite::RequestCount(std::string_view path) const {
  std::lock_guard lock(mutex_);
  bool whole_target = path.find('?') != std::string_view::npos;
  int count = 0;
  for (const auto& [target, n] : counts_) {
    std::string_view key = target;
    if (!whole_target)
      key = key.substr(0, key.find('?'));
    if (key == path)
      count += n;
  }
  return count;
}

int DemoSite::TotalRequests() const {
  std::lock_guard lock(mutex_);
  return total_;
}

std::vector<RequestRecord> DemoSite::Requests() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void DemoSite::ClearRequests() {
  std::lock_guard lock(mutex_);
  counts_.clear();
  dropped_.clear();
  log_.clear();
  total_ = 0;
}

void DemoSite::SetVersionBody(std::string body) {
  std::lock_guard lock(mutex_);
  version_body_ = std::move(body);
}

void DemoSite::SetPageFaults(const Faults& faults) {
  std::lock_guard lock(mutex_);
  page_faults_ = faults;
}

void DemoSite::SetStreamFaults(const Faults& faults) {
  std::lock_guard lock(mutex_);
  stream_faults_ = faults;
}

std::string DemoSite::EnsureAudio(const DemoSong& song, AudioFormat format) {
  return audio_->Ensure(song, format, [this] { return server_.Stopping(); });
}

HttpResponse DemoSite::Handle(const HttpRequest& request) {
  Faults base;
  {
    std::lock_guard lock(mutex_);
    ++counts_[request.target];
    ++total_;
    if (log_.size() >= kMaxLogEntries)
      log_.erase(log_.begin(), log_.begin() + kMaxLogEntries / 2);
    log_.push_back({request.method, request.target, request.head});
  }
  if (request.method != "GET" && request.method != "HEAD") {
    HttpResponse response = Page(405, "Method Not Allowed", "text/plain", "Method Not Allowed\r\n");
    response.headers.emplace_back("Allow", "GET, HEAD");
    return response;
  }
  std::string_view target = request.target;
  std::string_view switches;
  if (target.starts_with(kFaultPrefix)) {
    target.remove_prefix(kFaultPrefix.size());
    std::size_t slash = target.find('/');
    switches = target.substr(0, slash);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  std::string_view path = target.substr(0, target.find('?'));
  std::string_view query =
      path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view();
  bool stream = path.starts_with("/audio/");
  {
    std::lock_guard lock(mutex_);
    base = stream ? stream_faults_ : page_faults_;
  }
  Faults faults;
  try {
    faults = ParseFaults(switches, base);
  } catch (const std::invalid_argument& error) {
    return Page(400, "Bad Request", "text/plain", std::string(error.what()) + "\r\n");
  }
  std::string host = StreamHost(request, HostPort());

  HttpResponse response;
  if (faults.redirects > 0) {
    std::string next;
    for (std::string_view rest = switches; !rest.empty();) {
      std::size_t comma = rest.find(',');
      std::string_view item = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      if (!item.empty() && !item.starts_with("redirect="))
        next.append(item).append(",");
    }
    next += "redirect=" + std::to_string(faults.redirects - 1);
    response = Page(302, "Found", "text/html", "<html><body>Moved</body></html>\r\n");
    std::string origin = faults.relative_redirects ? "" : scheme_ + host;
    response.headers.emplace_back("Location",
                                  origin + std::string(kFaultPrefix) + next + std::string(target));
    // Only the framing switches apply to a hop; the others wait for the resource itself.
    response.faults.gzip = faults.gzip;
    response.faults.chunked = faults.chunked;
    return response;
  }
  if (faults.drop_at >= 0) {
    // The network goes away once per resource: the resumed download comes through.
    std::lock_guard lock(mutex_);
    if (!dropped_.insert(request.target).second)
      faults.drop_at = -1;
  }
  response = faults.not_found ? NotFound(request.target) : Route(request, path, query, host);
  if (faults.grow_bytes > 0 && response.status == 200)
    response.body.append(static_cast<std::size_t>(faults.grow_bytes), '\0');
  if (faults.no_range)
    response.range_capable = false;
  response.faults = faults;
  return response;
}

HttpResponse DemoSite::Route(const HttpRequest& request, std::string_view path,
                             std::string_view query, std::string_view host) {
  if (path == "/" || path == "/index.html")
    return Html(HomePage());
  if (path == "/djKivodata/ver.txt") {
    std::lock_guard lock(mutex_);
    return Page(200, "OK", "text/plain", version_body_);
  }
  if (path == "/search.html") {
    bool found = false;
    int page = PageNumber(QueryValue(query, "pageid", &found));
    std::string keyword = DecodeQueryValue(QueryValue(query, "keyword", &found));
    return Html(SearchResultPage(catalogue_, keyword, page > 0 ? page : 1));
  }
  constexpr std::string_view kSort = "/dance/sort/", kPlay = "/dance/play/", kAudio = "/audio/";
  if (path.starts_with(kSort) && path.ends_with(".html")) {
    std::string_view name = path.substr(kSort.size(), path.size() - kSort.size() - 5);
    std::size_t underscore = name.rfind('_');
    const DemoCategory* category = underscore == std::string_view::npos
                                       ? nullptr
                                       : DemoCatalogue::FindCategory(name.substr(0, underscore));
    int page = underscore == std::string_view::npos ? 0 : PageNumber(name.substr(underscore + 1));
    if (category && page > 0)
      return Html(CategoryListPage(catalogue_, *category, page));
  } else if (path.starts_with(kPlay) && path.ends_with(".html")) {
    const DemoSong* song =
        catalogue_.FindSong(path.substr(kPlay.size(), path.size() - kPlay.size() - 5));
    if (song)
      return Html(PlayPage(*song, scheme_ + std::string(host) + std::string(kAudio)));
  } else if (path.starts_with(kAudio) && (path.ends_with(".mp3") || path.ends_with(".wma"))) {
    bool mp3 = path.ends_with(".mp3");
    const DemoSong* song =
        catalogue_.FindSong(path.substr(kAudio.size(), path.size() - kAudio.size() - 4));
    if (song) {
      std::string file = EnsureAudio(*song, mp3 ? AudioFormat::kMp3 : AudioFormat::kWma);
      HttpResponse response =
          Page(200, "OK", mp3 ? "audio/mpeg" : "audio/x-ms-wma", ReadFile(file));
      response.range_capable = true;
      return response;
    }
  }
  return NotFound(request.target);
}

}  // namespace djkivo::demo
