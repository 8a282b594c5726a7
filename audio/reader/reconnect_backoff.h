// When a reader tries a dropped connection again.
#pragma once

#include <chrono>
#include <optional>

namespace djkivo {

/// The attempts to get one dropped connection back: the first at once, then after 1 s, 2 s and
/// 4 s, then every 5 s, until `limit` has passed since the drop (one last attempt falls on the
/// limit itself). Quick enough that a short cut is not heard, and never more than one attempt in
/// 5 s once a drop lasts, so the player hears of the network's return within 5 s without
/// hammering a server that is down. Bookkeeping only, on the times the caller gives; one
/// reader thread uses it.
class ReconnectBackoff {
 public:
  using Clock = std::chrono::steady_clock;
  /// The wait after the first (immediate) attempt failed; each further failure doubles it.
  static constexpr std::chrono::milliseconds kFirstDelay{1000};
  /// The longest wait between two attempts.
  static constexpr std::chrono::milliseconds kMaxDelay{5000};

  ReconnectBackoff(Clock::time_point dropped, std::chrono::milliseconds limit);

  /// When the next attempt is due; nullopt once the time is used up.
  std::optional<Clock::time_point> NextAttempt() const;
  /// The attempt begun at `started` failed.
  void Failed(Clock::time_point started);

 private:
  const Clock::time_point give_up_at_;
  Clock::time_point next_;
  std::chrono::milliseconds delay_{kFirstDelay};
  bool expired_ = false;
};

}  // namespace djkivo
