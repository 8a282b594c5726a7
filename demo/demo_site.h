// The embedded demo site: list pages, search, play pages, the version file and the audio
// streams of a small fake catalogue, served on loopback by the project's own HTTP server.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "demo/catalogue.h"
#include "demo/faults.h"
#include "demo/http_server.h"

namespace djkivo::demo {

class AudioStore;

/// Start-up settings of the site.
struct DemoSiteOptions {
  std::uint16_t port = 0;          // 0: a free port
  std::string version_body = "1";  // the whole body of "/djKivodata/ver.txt"
  SongLength song_length = SongLength::kNormal;
  std::string cache_folder;  // encoded streams; empty: DefaultCacheFolder()
  Faults page_faults;        // applied to every request but the audio streams
  Faults stream_faults;      // applied to the audio streams
  /// With both set, the site speaks HTTPS only: the certificate file (the server's
  /// certificate, then its chain) and the key file, as PEM.
  std::string tls_certificate_file;
  std::string tls_key_file;
  /// Speak HTTPS with a certificate made for this run by a CA of its own (`CaFile()`, for the
  /// player to trust for the run only), instead of the files above. The files go with the site.
  bool throwaway_tls = false;
};

/// One request as the site received it.
struct RequestRecord {
  std::string method;
  std::string target;  // as received, fault prefix and query included
  std::string head;    // the raw request head
};

/// The site. Addresses it answers (GET and HEAD):
///
/// | path | answer |
/// |---|---|
/// | "/", "/index.html" | home page |
/// | "/dance/sort/<slug>_<n>.html" | page n of a category (slugs in `DemoCatalogue::Categories`) |
/// | "/search.html?pageid=<n>&keyword=<K>&keytype=1" | search results, K percent-encoded GBK |
/// | "/dance/play/<id>.html" | play page, its script pointing at "/audio/<id>.mp3" or ".wma" |
/// | "/djKivodata/ver.txt" | the version body |
/// | "/audio/<id>.mp3", "/audio/<id>.wma" | the song as MP3, or as WMA in ASF; Range supported |
///
/// Fault switches for one request: put "/_f/<switches>" in front of any path, with a switch list
/// as described in faults.h; e.g. "/_f/gzip,chunked/dance/sort/remix_1.html" or
/// "/_f/truncate=5000/audio/230017.mp3". The request's switches are applied on top of the
/// start-up switches (`page_faults`, `stream_faults`). A redirect goes to the same prefix with
/// the count one lower ("redirect=0" at the last hop), as an absolute address on the request's
/// Host (a path on the same host with the `relative` switch). The site's own pages never carry
/// the prefix in their links.
///
/// Audio is encoded lazily: a song's stream file is made on the first request for it (about a
/// second for a long song) and kept in the cache folder under a name that holds the song's
/// id, length and the synthesiser's version, so later runs answer at once.
///
/// With a certificate and key in the options the site speaks HTTPS instead, on the same paths.
///
/// Start, Stop and the destructor on one controlling thread; the query and setter methods may
/// be called from any thread at any time.
class DemoSite {
 public:
  /// Throws std::runtime_error when the TLS certificate or key cannot be read.
  explicit DemoSite(DemoSiteOptions options = {});
  ~DemoSite();  // Stop()
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  /// Starts serving. Throws std::runtime_error when the port cannot be bound or the cache
  /// folder cannot be created.
  void Start();
  /// Ends every connection, encode and thread; returns when they have ended. Idempotent.
  void Stop();

  std::uint16_t Port() const { return server_.Port(); }
  /// "127.0.0.1:PORT": what the player takes as its catalogue and home host (over HTTPS,
  /// with the scheme: BaseAddress).
  std::string HostPort() const;
  /// "http://127.0.0.1:PORT", or "https://127.0.0.1:PORT" over TLS. The addresses the site
  /// hands out (redirects, stream addresses) have the same scheme.
  std::string BaseAddress() const;
  /// True when the site speaks HTTPS.
  bool Tls() const { return tls_; }
  /// The CA certificate of a throwaway certificate (`throwaway_tls`); empty otherwise.
  const std::string& CaFile() const { return ca_file_; }

  const DemoCatalogue& Catalogue() const { return catalogue_; }

  /// Requests received for `path`: with a "?" in it, requests for exactly that target;
  /// without, requests whose target's path (before any "?") is `path`. The fault prefix is
  /// part of the path.
  int RequestCount(std::string_view path) const;
  int TotalRequests() const;
  /// Every request received so far, oldest first (the newest 10000).
  std::vector<RequestRecord> Requests() const;
  /// Forgets the requests received, and which resources a `drop` switch has cut (so they are
  /// cut again).
  void ClearRequests();

  void SetVersionBody(std::string body);
  void SetPageFaults(const Faults& faults);
  void SetStreamFaults(const Faults& faults);
  /// When the connections refused after a `drop` switch are taken again (the past when none
  /// are refused).
  std::chrono::steady_clock::time_point RefusedUntil() const { return server_.RefusedUntil(); }

  /// The path of the song's stream file in the cache folder, encoding it first if needed.
  /// Throws std::runtime_error when encoding fails.
  std::string EnsureAudio(const DemoSong& song, AudioFormat format);

 private:
  HttpResponse Handle(const HttpRequest& request);
  HttpResponse Route(const HttpRequest& request, std::string_view path, std::string_view query,
                     std::string_view host);

  const DemoCatalogue catalogue_;
  const std::unique_ptr<AudioStore> audio_;
  HttpServer server_;
  const std::uint16_t requested_port_;
  // Set by the constructor.
  bool tls_ = false;
  std::string scheme_ = "http://";  // or "https://"
  std::string certificate_folder_;  // of a throwaway certificate, removed with the site
  std::string ca_file_;
  mutable std::mutex mutex_;
  // --- guarded by mutex_
  std::string version_body_;
  Faults page_faults_;
  Faults stream_faults_;
  std::map<std::string, int, std::less<>> counts_;  // by target
  std::set<std::string> dropped_;                   // targets a drop switch has cut
  std::vector<RequestRecord> log_;
  int total_ = 0;
};

/// "$XDG_CACHE_HOME/djkivo/demo-audio", or "~/.cache/djkivo/demo-audio".
std::string DefaultCacheFolder();

}  // namespace djkivo::demo
