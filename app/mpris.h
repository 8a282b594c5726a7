// The player on the session bus as org.mpris.MediaPlayer2.djkivo, so the desktop's media keys
// and sound panels can control it.
#pragma once

#include <functional>

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

namespace djkivo::app {

/// What the bus service asks of the player. Every function runs on the GUI thread.
struct MprisPlayer {
  std::function<void()> raise;       // show the window
  std::function<void()> quit;        // close the window (and so the program)
  std::function<void()> play_pause;  // the play/pause button
  std::function<void()> play;        // play or resume
  std::function<void()> pause;       // pause if playing
  std::function<void()> next;
  std::function<void()> previous;
  std::function<QString()> playback_status;  // "Playing", "Paused" or "Stopped"
  std::function<QString()> title;            // the current song's name, "" when none
  std::function<QString()> artist;           // its uploader, "" when none
  std::function<double()> volume;            // 0.0 .. 1.0
  std::function<void(double)> set_volume;
};

/// Registers the MPRIS service and its two interfaces, and signals PropertiesChanged when the
/// playback status, title or volume change (it looks every `kPollInterval`). Without a session
/// bus, or when neither name can be taken, `Start` returns false and the player runs without it.
/// GUI thread only.
class MprisService final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kPollInterval = 250;  // ms: quick enough for a panel, cheap when idle
  static constexpr char kServiceName[] = "org.mpris.MediaPlayer2.djkivo";

  explicit MprisService(MprisPlayer player, QObject* parent = nullptr);
  ~MprisService() override;

  bool Start();
  /// The bus name taken by `Start`: `kServiceName`, or its per-instance form when another
  /// player holds that.
  const QString& ServiceName() const { return service_name_; }
  const MprisPlayer& player() const { return player_; }
  QVariantMap Metadata() const;

 private:
  void Poll();

  MprisPlayer player_;
  QTimer poll_;
  bool registered_ = false;
  QString service_name_;
  QString last_status_;
  QString last_title_;
  double last_volume_ = -1;
};

/// org.mpris.MediaPlayer2: the root interface.
class MprisRootAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit MprisRootAdaptor(MprisService* service);
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const;
  QStringList SupportedUriSchemes() const { return {}; }
  QStringList SupportedMimeTypes() const { return {}; }

 public Q_SLOTS:
  void Raise();
  void Quit();

 private:
  MprisService* service_;
};

/// org.mpris.MediaPlayer2.Player: playback control.
class MprisPlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(bool CanGoNext READ CanControl)
  Q_PROPERTY(bool CanGoPrevious READ CanControl)
  Q_PROPERTY(bool CanPlay READ CanControl)
  Q_PROPERTY(bool CanPause READ CanControl)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit MprisPlayerAdaptor(MprisService* service);
  QString PlaybackStatus() const;
  double Rate() const { return 1.0; }
  QVariantMap Metadata() const;
  double Volume() const;
  void SetVolume(double volume);
  qlonglong Position() const { return 0; }
  bool CanSeek() const { return false; }  // the streams are played front to back
  bool CanControl() const { return true; }

 public Q_SLOTS:
  void Next();
  void Previous();
  void Pause();
  void PlayPause();
  void Stop();
  void Play();
  void Seek(qlonglong offset);
  void SetPosition(const QDBusObjectPath& track, qlonglong position);
  void OpenUri(const QString& uri);

 Q_SIGNALS:
  void Seeked(qlonglong position);

 private:
  MprisService* service_;
};

}  // namespace djkivo::app
