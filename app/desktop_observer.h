// What the desktop hears of the player: a notification when a song starts while the window is
// out of sight, and no suspending while a song plays.
#pragma once

#include "app/core/player_view.h"

class QWidget;

namespace djkivo::app {

class SleepInhibitor;
class SongNotifier;

/// Listens to the player controller for the desktop's session services. Main thread only;
/// `window`, `notifier` and `inhibitor` outlive it.
class DesktopObserver final : public PlayerObserver {
 public:
  DesktopObserver(const QWidget& window, SongNotifier& notifier, SleepInhibitor& inhibitor);

  /// Notifies the song (name and uploader) when the window is hidden in the tray or minimised;
  /// a user looking at the window sees the title there.
  void SongStarted(const TMyListDj& song) override;
  /// Holds off suspending while playing; pausing, stopping and the end of a song release it.
  void PlaybackStateChanged(PlaybackState state) override;
  void TitleChanged() override {}

 private:
  const QWidget& window_;
  SongNotifier& notifier_;
  SleepInhibitor& inhibitor_;
};

}  // namespace djkivo::app
