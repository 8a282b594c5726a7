// URL parsing and the merge of a new URL (the first one of a load, or a redirect's Location)
// into the client's current address.
#pragma once

#include <string>

namespace djkivo::net {

/// The pieces of one URL as written. Pieces the URL does not have are empty.
struct TUri {
  std::string protocol;  // the scheme before "://", as written
  std::string username;
  std::string password;
  std::string host;      // without the brackets of an IPv6 literal
  std::string port;      // as written
  std::string path;      // up to and including the last '/'
  std::string document;  // after the path, without query and fragment
  std::string params;    // the query, after the first '?'

  /// Splits `url`. With "://" the URL is absolute and its path always starts with '/';
  /// without it the URL is relative (path, document and query only). '\' becomes '/' before
  /// the query (GBK double-byte characters are skipped whole, so a trail byte 0x5C stays), and
  /// a fragment ("#...") is dropped: it is never sent.
  static TUri Parse(const std::string& url);
};

/// Where the client's requests go: what survives from one request of a load to the next.
struct THttpAddress {
  std::string protocol;
  std::string host;
  std::string port;
  std::string path = "/";
  std::string document;
  std::string params;

  /// Merges `uri` into this address: an absolute path replaces the current one, a relative
  /// one is appended with runs of '/' collapsed and ".." removing the segment before it;
  /// document and query always come from `uri`; host, scheme and port when it has them (a
  /// scheme without a port gives 80 for http, 443 for https). Throws EUnknownProtocol when no
  /// port results.
  void Merge(const TUri& uri);

  /// The request target: path + document, plus "?" + query when there is one. No
  /// percent-encoding is applied: callers pass encoded URLs.
  std::string RequestTarget() const;

  /// The Host header's value: the host, plus ":port" unless the port is the scheme's default.
  std::string HostValue() const;
};

}  // namespace djkivo::net
