#include "app/desktop_observer.h"

#include <QWidget>

#include "app/gbk_qstring.h"
#include "app/sleep_inhibitor.h"
#include "app/song_list.h"
#include "app/song_notifier.h"

namespace djkivo::app {

DesktopObserver::DesktopObserver(const QWidget& window, SongNotifier& notifier,
                                 SleepInhibitor& inhibitor)
    : window_(window), notifier_(notifier), inhibitor_(inhibitor) {}

void DesktopObserver::SongStarted(const TMyListDj& song) {
  if (window_.isHidden() || window_.isMinimized())
    notifier_.Show(ShownSongName(song.name), FromGbkText(song.uploader));
}

void DesktopObserver::PlaybackStateChanged(PlaybackState state) {
  inhibitor_.SetPlaying(state == PlaybackState::kPlaying);
}

}  // namespace djkivo::app
