// The anti-freeze: page loads of the window's thread wait in a nested Qt event loop.
#pragma once

#include <functional>
#include <thread>

#include "app/core/fetch_page.h"

namespace djkivo::app {

/// The `Waiter` the window installs. On the GUI thread a load runs on a short-lived load
/// thread while the GUI thread runs a nested event loop until the load has ended, so the window
/// repaints and handles clicks (another load may start inside; the newest list command then
/// wins, see TForm1). On any other thread the load runs inline.
///
/// When the application quits while a load still waits on the network, the nested loop ends
/// but the load cannot be abandoned (it works on its caller's stack): the waiter then calls the
/// `on_quit_during_load` hook, which the program sets to end the process at once. Every other
/// wait has its own bound (connect 120 s, 60 s without a byte), so only a quit needs this.
/// Construct, install and destroy on the GUI thread.
class QtLoadWaiter final : public Waiter {
 public:
  /// `on_quit_during_load` is called on the GUI thread; when it returns, the waiter waits for
  /// the load to end as a blocking waiter would.
  explicit QtLoadWaiter(std::function<void()> on_quit_during_load);

  void Run(const std::function<void()>& load) override;

  /// Loads running now; GUI thread only.
  int ActiveLoads() const { return active_loads_; }

 private:
  const std::thread::id gui_thread_;
  const std::function<void()> on_quit_during_load_;
  int active_loads_ = 0;  // GUI thread only
};

}  // namespace djkivo::app
