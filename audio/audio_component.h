// The component base every audio stage and output derives from: removal notification and the
// event signature shared by the chain.
#pragma once

#include <functional>
#include <vector>

namespace djkivo {

class TComponent;

/// An event method of the chain. Every audio event takes one argument, the component it is
/// about (the sender).
using TAudioEvent = std::function<void(TComponent* sender)>;
using TOutputDoneEvent = TAudioEvent;       ///< `OnDone`, `OnSyncDone`
using TOutputProgressEvent = TAudioEvent;   ///< `OnProgress`
using TThreadExceptionEvent = TAudioEvent;  ///< `OnThreadException`
using TGenericEvent = TAudioEvent;          ///< notifications of concrete stages

/// An owned component that other components may reference (a stage's `Input`).
///
/// A component that stores a pointer to another calls `FreeNotification` on it; when either of
/// the two is destroyed, the other's `Notification` is called with it, so a reference never
/// outlives its target. Wiring (creation, `FreeNotification`, destruction) happens on the main
/// thread only. The notice comes from this base's destructor, after the derived parts are
/// gone: stop an output before destroying a stage it is playing from (the window stops its
/// output before it destroys the chain).
class TComponent {
 public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  /// Tells every linked component that this one is going away.
  virtual ~TComponent();

  /// Links the two components: `Notification(this)` reaches `other` when this one is destroyed
  /// and the reverse. Linking twice is harmless. Main thread only.
  void FreeNotification(TComponent* other);
  /// Undoes `FreeNotification`. Main thread only.
  void RemoveFreeNotification(TComponent* other);

 protected:
  /// `removed` is being destroyed; drop every reference to it. Called on the main thread from
  /// `removed`'s destructor (so `removed` is only good for comparing pointers).
  virtual void Notification(TComponent* removed);

 private:
  // Main thread only.
  std::vector<TComponent*> linked_;
};

}  // namespace djkivo
