#include "audio/reader/reconnect_backoff.h"

#include <algorithm>

namespace djkivo {

ReconnectBackoff::ReconnectBackoff(Clock::time_point dropped, std::chrono::milliseconds limit)
    : give_up_at_(dropped + limit), next_(dropped) {}

std::optional<ReconnectBackoff::Clock::time_point> ReconnectBackoff::NextAttempt() const {
  if (expired_)
    return std::nullopt;
  return std::min(next_, give_up_at_);
}

void ReconnectBackoff::Failed(Clock::time_point started) {
  if (started >= give_up_at_) {
    expired_ = true;
    return;
  }
  next_ = started + delay_;
  delay_ = std::min(delay_ * 2, kMaxDelay);
}

}  // namespace djkivo
