// FetchPage: one HTTP GET of a catalogue, play or version page with a fresh client, true or
// false, and the Waiter hook through which the caller's thread waits for the load.
#pragma once

#include <functional>
#include <string>

namespace djkivo::net {
class THttpClient;
class THttpDecompressor;
}  // namespace djkivo::net

namespace djkivo::app {

/// How the thread that asked for a page waits while the page loads.
///
/// `FetchPage` hands the whole load to the installed waiter's `Run`. The default waiter runs it
/// on the calling thread and so simply blocks (right for the worker thread and the CLI). The
/// window installs a waiter that, on the window's thread only, runs the load on a short-lived
/// thread and spins a nested event loop until it has ended, so the window keeps processing its
/// messages (and may even start another load) meanwhile; on any other thread it runs the load
/// inline like the default.
///
/// A load never throws out of `load` and every wait inside it is bounded (connect 120 s, 60 s
/// without a byte), so `Run` always returns.
class Waiter {
 public:
  virtual ~Waiter() = default;

  /// Runs `load` once, to its end, and returns after it. Called on the thread that called
  /// `FetchPage`; `load` may run on any thread, and it touches nothing but its own client and
  /// the result it hands back when it ends.
  virtual void Run(const std::function<void()>& load) = 0;

  /// The waiter `FetchPage` uses: the installed one, or a blocking one before any `Install`.
  static Waiter& Current();
  /// Installs (or, with nullptr, removes) the process's waiter. Call it on the main thread
  /// before the first load and remove it only when no load can be running.
  static void Install(Waiter* waiter);
};

/// The waiter that runs the load on the calling thread.
class BlockingWaiter final : public Waiter {
 public:
  void Run(const std::function<void()>& load) override { load(); }
};

/// Sets up `client` exactly as every page load does: redirects followed, a decompressor
/// attached, Accept, Accept-Language "zh-cn", Accept-Encoding "gzip, deflate", and a fresh
/// random User-Agent. `djkivo-cli fetch` uses it too, so the tool sends what the player sends.
/// `decompressor` must outlive the client's loads.
void ConfigurePageClient(net::THttpClient& client, net::THttpDecompressor& decompressor);

/// The User-Agent of one load: "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; " then a
/// random whole number from 0 to 99998, then "; .NET CLR 2.0.50727)". Any thread.
std::string RandomUserAgent();

/// GETs `address` with a fresh client (no connection, cookie or setting survives between
/// calls), through `Waiter::Current()`. True with the decoded body, byte for byte, in `text`;
/// false on any failure (network, HTTP status, decoding, a body above the size limit), with
/// `text` untouched and, when `error` is given, the failure's message in `*error` (the client's
/// own text, such as "Socket Error # 111\r\nConnection refused"). Any thread; never throws.
bool FetchPage(const std::string& address, std::string& text, std::string* error = nullptr);

}  // namespace djkivo::app
