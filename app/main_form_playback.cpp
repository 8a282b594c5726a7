// TForm1's audio side: the chain, song resolution, playback commands, auto-advance and the
// title and time display.
#include <algorithm>
#include <chrono>
#include <random>
#include <stdexcept>

#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QSlider>
#include <QTableWidget>
#include <QToolButton>

#include "app/core/catalogue_address.h"
#include "app/core/fetch_page.h"
#include "app/core/scrapers.h"
#include "app/core/time_display.h"
#include "app/gbk_qstring.h"
#include "app/main_form.h"
#include "app/paint_panel.h"
#include "app/skin.h"
#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/audio_error.h"
#include "audio/media_stream_in.h"
#include "audio/output/sound_out.h"

namespace djkivo::app {

namespace {

// Buffering the stream input asks of the reader before each song, in seconds.
constexpr std::uint16_t kBufferingSeconds = 2;

// The analyser's levels run from -40 (silence) to about 60 for loud music; a bar of the upper
// level fills the panel's height.
constexpr double kSilenceLevel = -40.0;
constexpr double kLoudLevel = 60.0;

}  // namespace

void TForm1::CreateAudioChain() {
  std::unique_ptr<SoundDevice> device =
      config_.device_factory ? config_.device_factory() : CreateSoundDevice(config_.device);
  if (!device)
    throw std::invalid_argument("unknown sound device: " + config_.device +
                                " (portaudio, null or wav:PATH)");

  MediaStreamIn1 = std::make_unique<TMediaStreamIn>();
  MediaStreamIn1->SetBufferingTime(kBufferingSeconds);
  MediaStreamIn1->SetMaxWaitMilliseconds(10000);
  MediaStreamIn1->SetLoop(false);
  MediaStreamIn1->SetEnableHTTP(false);
  MediaStreamIn1->SetEnableTCP(false);
  MediaStreamIn1->SetEnableUDP(false);
  MediaStreamIn1->SetProxyPort(0);
  MediaStreamIn1->SetStretchFactor(1.0f);
  MediaStreamIn1->SetOrigin(AddressOrigin::kNetwork);

  AudioCache1 = std::make_unique<TAudioCache>();
  AudioCache1->SetInput(MediaStreamIn1.get());

  SpectrumAnalyser1 = std::make_unique<TSpectrumAnalyser>();
  SpectrumAnalyser1->SetInput(AudioCache1.get());
  SpectrumAnalyser1->SetInterval(100);
  SpectrumAnalyser1->SetOnGainData([this](TComponent*) { SpectrumAnalyser1GainData(); });

  SoundOut1 = std::make_unique<TSoundOut>(std::move(device));
  SoundOut1->SetInput(SpectrumAnalyser1.get());
  SoundOut1->SetDeviceNumber(0);
  SoundOut1->SetLatency(100);
  SoundOut1->SetSpeedFactor(1.0f);
  SoundOut1->SetCalibrate(false);
  SoundOut1->SetOnDone([this](TComponent*) { SoundOut1Done(); });
}

// --- Song resolution ---------------------------------------------------------------------------

void TForm1::PlayCurrent() {
  const TMyListDj* entry = my_list_.Current();
  if (entry == nullptr)
    return;
  const std::string id = entry->id;  // the list may change while the play page loads
  PlaySongById(id);
  if (category_index_ == kMyListCategory)
    SelectRow(my_list_.CurrentIndex());
}

void TForm1::PlaySongById(const std::string& id) {
  const ListLoadSequence::Ticket ticket = play_loads_.Begin();
  std::string page;
  if (!FetchPage(PlayPageAddress(config_.catalogue_host, id), page))
    return;  // the song that was playing goes on
  if (!play_loads_.IsLatest(ticket) || closing_)
    return;  // a newer play request, or the window closed, while the page loaded
  std::string address;
  try {
    address = ResolveStreamAddress(std::move(page));
  } catch (const std::exception&) {
    // No address: the run below fails to open and auto-advance moves on, as for a page
    // without the script.
  }
  SoundOut1->Stop(false);  // raises no OnDone: replacing a song is not the end of one
  MediaStreamIn1->SetFileName(address);
  MediaStreamIn1->SetBufferingTime(kBufferingSeconds);
  try {
    SoundOut1->Run();
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
  SkinPaintPanel1->update();
}

// --- Playback commands ---------------------------------------------------------------------------

void TForm1::PlayButtonClick() {
  if (MediaStreamIn1->FileName().empty()) {
    if (my_list_.MyList().empty())
      return;
    my_list_.SetCurrentIndex(0);
    PlayCurrent();
  }
  try {
    switch (SoundOut1->Status()) {
      case OutputStatus::kPaused:
        SoundOut1->Resume();
        break;
      case OutputStatus::kIdle:
        SoundOut1->Run();
        break;
      default:
        break;
    }
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
}

void TForm1::PauseButtonClick() {
  try {
    SoundOut1->Pause();
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
}

void TForm1::N7Click() {
  if (SoundOut1->Status() != OutputStatus::kPlaying)
    PlayButtonClick();
  else
    PauseButtonClick();
}

void TForm1::SkinButton1Click() {
  if (my_list_.MyList().empty())
    return;
  SkinTrackBar1->setValue(0);
  int index = my_list_.CurrentIndex() - 1;
  my_list_.SetCurrentIndex(index <= 0 ? 0 : index);
  PlayCurrent();
}

void TForm1::SkinButton2Click() {
  const int count = static_cast<int>(my_list_.MyList().size());
  if (count == 0)
    return;
  SkinTrackBar1->setValue(0);
  my_list_.SetCurrentIndex((my_list_.CurrentIndex() + 1) % count);
  PlayCurrent();
}

void TForm1::N2Click() { SkinButton1Click(); }
void TForm1::N5Click() { SkinButton2Click(); }

void TForm1::SoundOut1Done() {
  const int count = static_cast<int>(my_list_.MyList().size());
  if (count == 0 || closing_)
    return;
  // A song that cannot be opened moves on to the next, but once a whole round of the list has
  // failed in a row (no sound device, no network to the streams) going on would only hammer
  // the site: stop there and say why.
  const std::string error = SoundOut1->ErrorMessage();
  failed_runs_ = error.empty() ? 0 : failed_runs_ + 1;
  if (failed_runs_ >= count) {
    failed_runs_ = 0;
    ShowError(QString::fromUtf8(error));
    return;
  }
  SkinTrackBar1->setValue(0);
  if (SequentialMode()) {
    my_list_.SetCurrentIndex((my_list_.CurrentIndex() + 1) % count);
  } else {
    std::uniform_int_distribution<int> draw(0, count - 1);
    my_list_.SetCurrentIndex(draw(random_));
  }
  PlayCurrent();
}

void TForm1::SkinButton5Click() {
  SkinButton5->setChecked(true);
  SkinButton4->setChecked(false);
}

void TForm1::SkinButton4Click() {
  SkinButton4->setChecked(true);
  SkinButton5->setChecked(false);
}

bool TForm1::SequentialMode() const { return SkinButton5->isChecked(); }

void TForm1::Timer1Timer() {
  const bool playing = SoundOut1->Status() == OutputStatus::kPlaying;
  if (PlayButton->isHidden() != playing) {
    PlayButton->setVisible(!playing);
    PauseButton->setVisible(playing);
  }
}

void TForm1::VolumeBarChange() {
  try {
    SoundOut1->SetVolume(VolumeBar->value());
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
  }
}

void TForm1::FormClose() {
  closing_ = true;
  SaveSettings();
  // Synchronous: the output's thread has ended before the components are destroyed.
  SoundOut1->Stop(false);
}

// --- The title and time display ------------------------------------------------------------

void TForm1::SpectrumAnalyser1GainData() {
  if (closing_)
    return;  // the chain is being torn down
  SkinTrackBar1->setValue(SoundOut1->Progress());
  // Elapsed is measured where the output takes the audio (the analyser's position), not where
  // the source reads: the cache reads up to half a minute ahead of what is heard. Both count
  // bytes of the same PCM, so the source's size still gives the proportion.
  TimeTexts texts = ComputeTimeTexts(MediaStreamIn1->KnownTotalTime(),
                                     SpectrumAnalyser1->Position(), MediaStreamIn1->Size());
  elapsed_text_ = std::move(texts.elapsed);
  total_text_ = std::move(texts.total);
  levels_ = SpectrumAnalyser1->Levels();
  SkinPaintPanel1->update();
}

void TForm1::SkinPaintPanel1PanelPaint(QPainter& Cnvs, const QRect& R) {
  const int right = R.left() + R.width();  // the rectangle's right edge, exclusive

  // The spectrum behind the texts: eight bars, only while something plays.
  if (SoundOut1->Status() == OutputStatus::kPlaying) {
    QColor bar = kSkinAccentColor;
    bar.setAlpha(90);
    const int bands = static_cast<int>(levels_.size());
    const double width = R.width() / double(bands);
    for (int band = 0; band < bands; ++band) {
      double level =
          std::clamp((levels_[band] - kSilenceLevel) / (kLoudLevel - kSilenceLevel), 0.0, 1.0);
      double height = level * R.height();
      Cnvs.fillRect(QRectF(R.left() + band * width + 1, R.bottom() + 1 - height, width - 2, height),
                    bar);
    }
  }

  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(14);
  font.setBold(false);
  Cnvs.setFont(font);
  Cnvs.setPen(kSkinTextColor);
  QFontMetrics regular(font);
  const QString elapsed = QString::fromStdString(elapsed_text_);
  const QString total = QString::fromStdString(total_text_);
  Cnvs.drawText(QPoint(R.left(), R.top() + kTimeLineOffset + regular.ascent()), elapsed);
  Cnvs.drawText(QPoint(TotalTimeLeft(right, regular.horizontalAdvance(total)),
                       R.top() + kTimeLineOffset + regular.ascent()),
                total);

  font.setBold(true);
  Cnvs.setFont(font);
  QFontMetrics bold(font);
  const QString title = DisplayTitle();
  Cnvs.save();
  Cnvs.setClipRect(R);
  Cnvs.drawText(
      QPoint(TitleLeft(R.left(), right, bold.horizontalAdvance(title)), R.top() + bold.ascent()),
      title);
  Cnvs.restore();
}

QString TForm1::DisplayTitle() const {
  const TMyListDj* entry = my_list_.Current();
  return entry ? FromGbkText(entry->name) : QStringLiteral("暂无播放文件");
}

}  // namespace djkivo::app
