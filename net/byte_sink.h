// Byte sinks: the links a body flows through from the socket to its destination
// (de-chunker -> size limit -> decoder -> size limit -> output). Each link can be tested alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace djkivo::net {

/// Receives a body's bytes in order, then one `Finish` when the body is complete (a body cut
/// short never gets `Finish`). Used by one thread at a time.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(std::string_view bytes) = 0;
  /// The body ended; a decoder checks that its data was complete and flushes.
  virtual void Finish() {}
};

/// Appends to a string owned by the caller, which must outlive the sink.
class StringSink final : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void Write(std::string_view bytes) override { out_.append(bytes); }

 private:
  std::string& out_;
};

/// Throws the bytes away (a redirect's body).
class DiscardSink final : public ByteSink {
 public:
  void Write(std::string_view) override {}
};

/// Passes bytes on until more than `limit` have come, then throws EResponseTooLarge, so an
/// endless body or a decompression bomb cannot exhaust memory.
class LimitSink final : public ByteSink {
 public:
  LimitSink(ByteSink& next, std::uint64_t limit) : next_(next), limit_(limit) {}
  void Write(std::string_view bytes) override;
  void Finish() override { next_.Finish(); }

 private:
  ByteSink& next_;
  const std::uint64_t limit_;
  std::uint64_t count_ = 0;
};

}  // namespace djkivo::net
