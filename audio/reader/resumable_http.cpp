#include "audio/reader/resumable_http.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "audio/media_reader.h"

namespace djkivo {

namespace {

// The demuxer reads through a buffer of this size.
constexpr int kBufferBytes = 32 * 1024;

// A 4xx answer: the song is gone (or never was ours to have); asking again will not help.
bool IsGone(int error) {
  return error == AVERROR_HTTP_BAD_REQUEST || error == AVERROR_HTTP_UNAUTHORIZED ||
         error == AVERROR_HTTP_FORBIDDEN || error == AVERROR_HTTP_NOT_FOUND ||
         error == AVERROR_HTTP_OTHER_4XX;
}

}  // namespace

ResumableHttpInput::ResumableHttpInput(std::string address, const AVDictionary* options,
                                       const AVIOInterruptCB& interrupt,
                                       std::chrono::milliseconds reconnect_time, Host* host)
    : address_(std::move(address)),
      interrupt_(interrupt),
      reconnect_time_(reconnect_time),
      host_(host) {
  av_dict_copy(&options_, options, 0);
}

ResumableHttpInput::~ResumableHttpInput() {
  CloseInner();
  if (outer_) {
    av_freep(&outer_->buffer);
    avio_context_free(&outer_);
  }
  av_dict_free(&options_);
}

int ResumableHttpInput::Open() {
  const int result = OpenInner(0);
  if (result < 0)
    return result;
  const std::int64_t size = avio_size(inner_);
  length_ = size > 0 ? size : -1;
  seekable_ = (inner_->seekable & AVIO_SEEKABLE_NORMAL) != 0;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (!buffer)
    return AVERROR(ENOMEM);
  outer_ = avio_alloc_context(buffer, kBufferBytes, 0, this, &ResumableHttpInput::ReadPacket,
                              nullptr, &ResumableHttpInput::SeekPacket);
  if (!outer_) {
    av_free(buffer);
    return AVERROR(ENOMEM);
  }
  // A server that cannot resume cannot seek either: the demuxer then reads straight through.
  outer_->seekable = seekable_ ? AVIO_SEEKABLE_NORMAL : 0;
  return 0;
}

int ResumableHttpInput::ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
  return static_cast<ResumableHttpInput*>(opaque)->Read(buffer, size);
}

std::int64_t ResumableHttpInput::SeekPacket(void* opaque, std::int64_t offset, int whence) {
  return static_cast<ResumableHttpInput*>(opaque)->Seek(offset, whence);
}

int ResumableHttpInput::OpenInner(std::int64_t offset) {
  CloseInner();
  AVDictionary* options = nullptr;
  av_dict_copy(&options, options_, 0);
  av_dict_set_int(&options, "offset", offset, 0);
  const int result = avio_open2(&inner_, address_.c_str(), AVIO_FLAG_READ, &interrupt_, &options);
  av_dict_free(&options);
  return result;
}

void ResumableHttpInput::CloseInner() {
  if (inner_)
    avio_closep(&inner_);
}

void ResumableHttpInput::Delivered(const std::uint8_t* data, std::size_t bytes) {
  if (head_.size() < kCheckBytes && static_cast<std::int64_t>(head_.size()) == position_)
    head_.append(reinterpret_cast<const char*>(data), std::min(bytes, kCheckBytes - head_.size()));
  // Only the last kCheckBytes bytes matter for the tail.
  const std::size_t from = bytes > kCheckBytes ? bytes - kCheckBytes : 0;
  for (std::size_t i = from; i < bytes; ++i) {
    tail_[tail_next_] = data[i];
    tail_next_ = (tail_next_ + 1) % kCheckBytes;
  }
  tail_count_ = std::min(kCheckBytes, tail_count_ + bytes);
  position_ += static_cast<std::int64_t>(bytes);
  if (episode_) {
    episode_.reset();
    host_->OnReconnected();
  }
}

int ResumableHttpInput::Read(std::uint8_t* buffer, int size) {
  while (true) {
    if (interrupt_.callback && interrupt_.callback(interrupt_.opaque))
      return AVERROR_EXIT;
    if (pending_at_ < pending_.size()) {
      const auto n = static_cast<int>(std::min<std::size_t>(size, pending_.size() - pending_at_));
      std::memcpy(buffer, pending_.data() + pending_at_, static_cast<std::size_t>(n));
      pending_at_ += static_cast<std::size_t>(n);
      if (pending_at_ == pending_.size()) {
        pending_.clear();
        pending_at_ = 0;
      }
      Delivered(buffer, static_cast<std::size_t>(n));
      return n;
    }
    if (length_ >= 0 && position_ >= length_)
      return AVERROR_EOF;
    if (reopen_at_position_) {
      reopen_at_position_ = false;
      const int result = OpenInner(position_);
      if (result < 0) {
        const int reconnected = IsGone(result) ? result : Reconnect(result);
        if (reconnected < 0)
          return reconnected;
      }
      continue;
    }
    if (!inner_) {
      if (const int result = Reconnect(AVERROR(EIO)); result < 0)
        return result;
      continue;
    }
    const int want = skip_ > 0 ? static_cast<int>(std::min<std::int64_t>(size, skip_)) : size;
    const int n = avio_read_partial(inner_, buffer, want);
    if (n > 0) {
      if (skip_ > 0) {
        skip_ -= n;  // bytes the demuxer already had: the server sent the stream from its start
        continue;
      }
      Delivered(buffer, static_cast<std::size_t>(n));
      return n;
    }
    if (n == AVERROR_EXIT)
      return n;
    // FFmpeg reports a body without a length that the server closed as EIO ("ends
    // prematurely"): for such a body that is its end (HTTP/1.0 framing), not a drop to ride out.
    const bool closed = n == 0 || n == AVERROR_EOF || n == AVERROR(EIO);
    if (length_ < 0 && closed)
      return AVERROR_EOF;
    if (length_ >= 0 && position_ >= length_)
      return AVERROR_EOF;
    if (const int result = Reconnect(n < 0 ? n : AVERROR(EIO)); result < 0)
      return result;
  }
}

std::int64_t ResumableHttpInput::Seek(std::int64_t offset, int whence) {
  if (whence & AVSEEK_SIZE)
    return length_ >= 0 ? length_ : AVERROR(ENOSYS);
  whence &= ~AVSEEK_FORCE;
  std::int64_t target = -1;
  if (whence == SEEK_SET)
    target = offset;
  else if (whence == SEEK_CUR)
    target = position_ + offset;
  else if (whence == SEEK_END && length_ >= 0)
    target = length_ + offset;
  if (!seekable_ || ranges_ignored_ || target < 0)
    return AVERROR(ENOSYS);
  if (target == position_ && inner_ && !reopen_at_position_ && pending_.empty() && skip_ == 0)
    return target;
  // The next read asks for the bytes from the target on, with a request of its own.
  CloseInner();
  pending_.clear();
  pending_at_ = 0;
  skip_ = 0;
  tail_count_ = 0;
  position_ = target;
  reopen_at_position_ = true;
  return target;
}

int ResumableHttpInput::Reconnect(int cause) {
  CloseInner();
  pending_.clear();
  pending_at_ = 0;
  skip_ = 0;
  if (reconnect_time_.count() <= 0)
    return cause;
  if (!episode_) {
    episode_.emplace(Clock::now(), reconnect_time_);
    host_->OnReconnecting();
  } else {
    // The last attempt connected, but the connection broke before a byte came through.
    episode_->Failed(attempt_started_);
  }
  while (const std::optional<Clock::time_point> next = episode_->NextAttempt()) {
    if (!host_->WaitForRetry(*next))
      return AVERROR_EXIT;
    attempt_started_ = Clock::now();
    const int result = Reopen();
    if (result == 0)
      return 0;
    if (result == AVERROR_EXIT || result == kReaderStreamChanged || IsGone(result))
      return result;
    episode_->Failed(attempt_started_);
  }
  return kReaderReconnectTimedOut;
}

int ResumableHttpInput::ReadExactly(std::string& out, std::size_t count) {
  out.resize(count);
  std::size_t total = 0;
  while (total < count) {
    const int n = avio_read(inner_, reinterpret_cast<unsigned char*>(out.data() + total),
                            static_cast<int>(count - total));
    if (n == 0 || n == AVERROR_EOF)
      break;
    if (n < 0)
      return n;
    total += static_cast<std::size_t>(n);
  }
  out.resize(total);
  return 0;
}

int ResumableHttpInput::Reopen() {
  // Ask for the last bytes already read as well, to see whether the answer goes on from them.
  const std::size_t check = ranges_ignored_ ? 0 : tail_count_;
  // A server known to ignore ranges is asked for the whole stream, of which the part already
  // read is skipped.
  const std::int64_t start = ranges_ignored_ ? 0 : position_ - static_cast<std::int64_t>(check);
  int result = OpenInner(start);
  if (result == AVERROR(EPERM) && start > 0) {
    // FFmpeg refuses an answer that does not start where it asked (a 200 to the Range): the
    // server cannot resume. Ask for the whole stream and skip what was already read.
    ranges_ignored_ = true;
    return Reopen();
  }
  if (result < 0)
    return result;
  const std::int64_t size = avio_size(inner_);
  if (length_ >= 0 && size > 0 && size != length_) {
    CloseInner();
    return kReaderStreamChanged;
  }
  std::string got;
  result = ReadExactly(got, std::max(check, head_.size()));
  if (result < 0) {
    CloseInner();
    return result;
  }
  if (start > 0) {
    if (check == 0) {
      // Nothing read since a seek: nothing to compare, so the answer is taken as it comes.
      pending_ = std::move(got);
      return 0;
    }
    // The ring's last `check` bytes, in order.
    bool resumed = got.size() >= check;
    for (std::size_t i = 0; resumed && i < check; ++i)
      resumed = static_cast<std::uint8_t>(got[i]) ==
                tail_[(tail_next_ + kCheckBytes - check + i) % kCheckBytes];
    if (resumed) {
      pending_ = got.substr(check);
      return 0;
    }
    if (!head_.empty() && got.compare(0, head_.size(), head_) == 0) {
      // A whole stream in answer to a Range request: the server cannot resume. Ask for it from
      // the start (so FFmpeg counts its length right) and skip what was already read.
      ranges_ignored_ = true;
      CloseInner();
      return Reopen();
    }
  } else {
    const std::size_t same = std::min(head_.size(), got.size());
    if (got.compare(0, same, head_, 0, same) == 0 &&
        (length_ < 0 || got.size() >= std::min<std::size_t>(head_.size(), length_))) {
      if (static_cast<std::int64_t>(got.size()) >= position_)
        pending_ = got.substr(static_cast<std::size_t>(position_));
      else
        skip_ = position_ - static_cast<std::int64_t>(got.size());
      return 0;
    }
  }
  if (length_ < 0) {
    // A live stream: what it sends now follows on from what was played.
    tail_count_ = 0;
    pending_ = std::move(got);
    return 0;
  }
  CloseInner();
  return kReaderStreamChanged;
}

}  // namespace djkivo
