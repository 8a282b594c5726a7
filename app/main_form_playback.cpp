// TForm1's playback side: the playback handlers, auto-advance and the title and time display,
// forwarded to the controller; the display panel's drawing.
#include <algorithm>

#include <QFontMetrics>
#include <QPainter>
#include <QSlider>
#include <QToolButton>

#include "app/core/player_controller.h"
#include "app/core/time_display.h"
#include "app/main_form.h"
#include "app/paint_panel.h"
#include "app/skin.h"
#include "app/song_list.h"
#include "audio/analysis/spectrum_analyser.h"
#include "base/gbk_text.h"
#include "desktop/tray_icon.h"

namespace djkivo::app {

namespace {

// The analyser's levels run from -40 (silence) to about 60 for loud music; a bar of the upper
// level fills the panel's height.
constexpr double kSilenceLevel = -40.0;
constexpr double kLoudLevel = 60.0;

}  // namespace

// --- Handlers ----------------------------------------------------------------------------------

void TForm1::PlayCurrent() { controller_->Playback().PlayCurrent(); }
void TForm1::PlayButtonClick() { controller_->Playback().Play(); }
void TForm1::PauseButtonClick() { controller_->Playback().Pause(); }
void TForm1::N7Click() { controller_->Playback().TogglePlayPause(); }
void TForm1::SkinButton1Click() { controller_->Playback().PreviousSong(); }
void TForm1::SkinButton2Click() { controller_->Playback().NextSong(); }
void TForm1::N2Click() { SkinButton1Click(); }
void TForm1::N5Click() { SkinButton2Click(); }
void TForm1::SkinButton5Click() { controller_->Playback().SetRandomMode(false); }
void TForm1::SkinButton4Click() { controller_->Playback().SetRandomMode(true); }
void TForm1::SoundOut1Done() { controller_->Playback().OnSongEnded(); }
void TForm1::Timer1Timer() { controller_->Playback().RefreshPlaybackState(); }
void TForm1::VolumeBarChange() { controller_->Playback().SetVolume(VolumeBar->value()); }
void TForm1::SpectrumAnalyser1GainData() { controller_->Playback().OnGainTick(); }
void TForm1::MediaStreamIn1Reconnect() { controller_->Playback().OnReconnect(); }
void TForm1::NetworkWatcher1Back() { controller_->Playback().OnNetworkBack(); }

// --- The view the controller drives ------------------------------------------------------------

void TForm1::ShowPlaybackState(PlaybackState state) {
  const bool playing = state == PlaybackState::kPlaying;
  PlayButton->setVisible(!playing);
  PauseButton->setVisible(playing);
}

void TForm1::ShowPlayMode(bool random) {
  SkinButton4->setChecked(random);
  SkinButton5->setChecked(!random);
}

void TForm1::SetProgress(int percent) { SkinTrackBar1->setValue(percent); }

void TForm1::ShowReconnecting(bool reconnecting) {
  if (!TrayIcon1)
    return;  // the desktop's parts are not made yet, or already gone
  const QString hint =
      reconnecting ? QStringLiteral("DJKivo云播放 - ") + QString::fromUtf8(kReconnectingText)
                   : QStringLiteral("DJKivo云播放");
  TrayIcon1->SetHint(Utf8ToGbk(hint.toStdString()).value_or(std::string()));
}

void TForm1::RefreshDisplay() { SkinPaintPanel1->update(); }

// --- The title and time display ------------------------------------------------------------

void TForm1::SkinPaintPanel1PanelPaint(QPainter& Cnvs, const QRect& R) {
  const int right = R.left() + R.width();  // the rectangle's right edge, exclusive
  const PlaybackController& playback = controller_->Playback();

  // The spectrum behind the texts: eight bars, only while something plays.
  if (playback.State() == PlaybackState::kPlaying) {
    const TSpectrumLevels levels = SpectrumAnalyser1->Levels();
    QColor bar = kSkinAccentColor;
    bar.setAlpha(90);
    const int bands = static_cast<int>(levels.size());
    const double width = R.width() / double(bands);
    for (int band = 0; band < bands; ++band) {
      double level =
          std::clamp((levels[band] - kSilenceLevel) / (kLoudLevel - kSilenceLevel), 0.0, 1.0);
      double height = level * R.height();
      Cnvs.fillRect(QRectF(R.left() + band * width + 1, R.bottom() + 1 - height, width - 2, height),
                    bar);
    }
  }

  const DisplayLine line = playback.Display();
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(14);
  font.setBold(false);
  Cnvs.setFont(font);
  Cnvs.setPen(kSkinTextColor);
  QFontMetrics regular(font);
  const QString elapsed = QString::fromStdString(line.elapsed);
  const QString total = QString::fromStdString(line.total);
  Cnvs.drawText(QPoint(R.left(), R.top() + kTimeLineOffset + regular.ascent()), elapsed);
  Cnvs.drawText(QPoint(TotalTimeLeft(right, regular.horizontalAdvance(total)),
                       R.top() + kTimeLineOffset + regular.ascent()),
                total);
  if (line.reconnecting) {
    // Between the two times, which stand still meanwhile.
    const QString word = QString::fromUtf8(kReconnectingText);
    Cnvs.drawText(QPoint(TitleLeft(R.left(), right, regular.horizontalAdvance(word)),
                         R.top() + kTimeLineOffset + regular.ascent()),
                  word);
  }

  font.setBold(true);
  Cnvs.setFont(font);
  QFontMetrics bold(font);
  const QString title = line.song ? ShownSongName(line.song->name) : QStringLiteral("暂无播放文件");
  Cnvs.save();
  Cnvs.setClipRect(R);
  Cnvs.drawText(
      QPoint(TitleLeft(R.left(), right, bold.horizontalAdvance(title)), R.top() + bold.ascent()),
      title);
  Cnvs.restore();
}

}  // namespace djkivo::app
