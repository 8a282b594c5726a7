// The one exception class of the audio chain.
#pragma once

#include <stdexcept>

namespace djkivo {

/// Every failure raised by an audio stage, an output or its thread. The message is the one the
/// user (or the window's error box) sees, so it is always one of the chain's fixed texts or the
/// text of the failure that caused it.
class EAudioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace djkivo
