#include "audio/audio_component.h"

#include <algorithm>

namespace djkivo {

namespace {
void Unlink(std::vector<TComponent*>& links, TComponent* other) {
  links.erase(std::remove(links.begin(), links.end(), other), links.end());
}
}  // namespace

TComponent::~TComponent() {
  // Each linked component drops its link to this one first, so a Notification handler that
  // touches links of its own never sees this half-destroyed component.
  std::vector<TComponent*> linked;
  linked.swap(linked_);
  for (TComponent* other : linked) {
    Unlink(other->linked_, this);
    other->Notification(this);
  }
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this)
    return;
  if (std::find(linked_.begin(), linked_.end(), other) == linked_.end()) {
    linked_.push_back(other);
    other->linked_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr)
    return;
  Unlink(linked_, other);
  Unlink(other->linked_, this);
}

void TComponent::Notification(TComponent*) {}

}  // namespace djkivo
