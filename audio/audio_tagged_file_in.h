// A file source that also carries descriptive tags.
#pragma once

#include <map>
#include <string>

#include "audio/audio_file_in.h"

namespace djkivo {

/// A `TAudioFileIn` that owns descriptive tag records (title, artist, ...) for its source.
/// Nothing in the player reads them yet; a subclass fills them in `OpenSource`.
/// Main thread only.
class TAudioTaggedFileIn : public TAudioFileIn {
 public:
  TAudioTaggedFileIn() = default;
  ~TAudioTaggedFileIn() override = default;

  /// Tag name → value, as the source delivered them.
  const std::map<std::string, std::string>& Tags() const { return tags_; }

 protected:
  std::map<std::string, std::string> tags_;
};

}  // namespace djkivo
