// The fault switches of the demo site: how a response is to be spoiled on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace djkivo::demo {

/// Ways to answer a request badly, so clients can be tested against them. A switch list is
/// written as comma-separated items, each a name or `name=value`:
///
/// - `gzip`: body sent with Content-Encoding gzip (when the request accepts gzip; a Range
///   request then gets the whole body)
/// - `chunked`: body sent with Transfer-Encoding chunked, in chunks of varying size
/// - `redirect=N`: N hops of "302 Found" before the resource is served
/// - `relative`: redirect Locations are paths on the same host, not absolute addresses
/// - `slow=N`: head and body trickled at N bytes a second: a tenth of that every 0.1 s, or one
///   byte every 1/N s below 10 bytes a second
/// - `stall=N`: nothing sent for N seconds before the status line
/// - `stall=N@B`: the stall comes after B bytes of the body instead
/// - `truncate=B`: the connection is closed (FIN) after B bytes of the body
/// - `reset`: the connection is reset (RST) instead of answering
/// - `reset=B`: the connection is reset after B bytes of the body
/// - `404`: "404 Not Found" instead of the resource
/// - `drop=S@B`: the network goes away when the body passes byte B of the resource: the
///   connection is reset there and the site refuses every connection for S seconds. It happens
///   once: only the first request for a resource is dropped (the demo site keeps count), and B
///   counts from the resource's start, so a resumed download is never dropped again
/// - `delay=MS`: every answer waits MS milliseconds before its status line (a slow site)
/// - `norange`: a Range request gets the whole resource (200), as from a server that cannot
///   resume
/// - `nolength`: neither Content-Length nor chunked framing: the body ends when the connection
///   closes (HTTP/1.0 framing)
/// - `grow=N`: the resource is N zero bytes longer than it was (a file that changed)
///
/// Body byte counts other than drop's are bytes of the body as it goes on the wire (after gzip
/// and chunk framing).
struct Faults {
  bool gzip = false;
  bool chunked = false;
  int redirects = 0;
  bool relative_redirects = false;
  int bytes_per_second = 0;       // 0: full speed
  int stall_seconds = 0;          // 0: no stall
  std::int64_t stall_at = -1;     // -1: before the status line; else after this many body bytes
  std::int64_t truncate_at = -1;  // -1: whole body
  std::int64_t reset_at = -1;     // -1: no reset
  bool not_found = false;
  int drop_seconds = 0;        // how long connections are refused after the drop
  std::int64_t drop_at = -1;   // -1: no drop; else the resource byte it comes at
  int delay_milliseconds = 0;  // 0: answers at once
  bool no_range = false;
  bool no_length = false;
  std::int64_t grow_bytes = 0;

  bool operator==(const Faults&) const = default;
};

/// Limits on switch values, so a typo cannot tie up a server thread for hours.
inline constexpr int kMaxRedirects = 50;
inline constexpr int kMaxStallSeconds = 3600;
inline constexpr int kMaxDelayMilliseconds = 60000;

/// `base` with the items of `list` applied on top, item by item. An empty list gives `base`.
/// Throws std::invalid_argument naming the bad item.
Faults ParseFaults(std::string_view list, Faults base = {});

}  // namespace djkivo::demo
