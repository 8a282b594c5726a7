// The base of the output at the end of the chain: runs, stops, pauses and resumes playback on
// its own worker thread and reports through four events.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/audio_component.h"
#include "audio/audio_input.h"

namespace djkivo {

class TAudioThread;
class TEventHandler;

/// What an output is doing, as `TAudioOutput::Status` reports it. The values are the ones the
/// output has always reported (0 playing, 1 paused, 2 idle), so a log or a test that prints
/// them reads the same.
enum class OutputStatus : int {
  kPlaying = 0,  ///< a run is in progress and not paused
  kPaused = 1,   ///< a run is parked in a pause (or a pause was asked for and not reached yet)
  kIdle = 2,     ///< no run
};

/// The end of the chain. It owns a `TAudioThread`, created with it, that pulls blocks through
/// the chain during a run.
///
/// A subclass implements `OpenOutput` (open `Input` and the device), `OutputStep` (write one
/// block; false when the run is over) and `CloseOutput` (release the device, close `Input`);
/// all three run on the output's thread. A subclass destructor must call `ShutDown` first, so
/// the thread is gone before the subclass's part of the object is.
///
/// Threads: `Run`, `Stop`, `Pause`, `Resume`, `SetInput` and the event setters are called on the
/// main thread; `Status`, `Progress`, `ErrorMessage` from any thread. `OnDone`, `OnProgress` and
/// `OnThreadException` are posted by the output's thread and run on the main thread through the
/// dispatcher; `OnSyncDone` runs on the output's thread at the end of every run.
class TAudioOutput : public TComponent {
 public:
  /// How long `Pause` waits for the thread to honour the pause. Short: a thread in the middle
  /// of a long step (an open waiting for the server) honours it at its next step, after `Pause`
  /// has returned, so the window is never held.
  static constexpr std::chrono::milliseconds kPauseWait{250};
  /// How long `Resume` waits for the thread to leave the pause.
  static constexpr std::chrono::milliseconds kResumeWait{5000};
  /// The longest a synchronous `Stop` waits for the run to end. Every stage bounds its own
  /// waits, so a run normally ends well within this; a stage that does not cannot hang the
  /// window: `Stop` returns and the run's events stay suppressed until its thread parks.
  static constexpr std::chrono::milliseconds kStopWait{20000};

  TAudioOutput();
  /// Stops any run synchronously and ends the thread.
  ~TAudioOutput() override;

  /// Starts playing the chain from the beginning. "Component is Busy" during a run, "Input is
  /// not assigned" without input (the output stays idle). Clears `ErrorMessage`.
  void Run();
  /// Ends the current run. `async` true returns at once, and `OnDone` follows when the thread
  /// has parked. `async` false returns once the thread has parked, and no event of this output
  /// is delivered after it returns (nor while it waits); on the main thread it runs the pending
  /// main-thread calls while it waits. Raises "You are trying to stop this thread from the
  /// thread itself!" on the output's thread (from `OnSyncDone`, say).
  void Stop(bool async);
  /// Pauses a run: the thread parks before its next step (`Status` says paused at once); waits
  /// up to `kPauseWait` for that, then tells the input. "Input is not assigned." without input.
  void Pause();
  /// Resumes a paused run.
  void Resume();
  /// Idle without a run; paused while the run is parked in a pause or a pause it has not
  /// reached yet is pending; playing otherwise.
  OutputStatus Status() const;
  /// Percent of the input consumed (0..100); -1 when the input's size is unknown; 0 without
  /// input or with size 0.
  int Progress() const;

  /// The message of the failure that ended the last run; empty otherwise.
  std::string ErrorMessage() const;

  TAudioInput* Input() const { return input_.load(); }
  /// During a run: stops synchronously, swaps the input and runs again; otherwise just stores
  /// it. Main thread.
  virtual void SetInput(TAudioInput* input);

  /// A run is in progress (set by `Run`, cleared when the run has finished).
  bool Busy() const { return busy_.load(); }
  /// The output loop is running (set just before it starts, cleared by the finish).
  bool Active() const { return active_.load(); }
  /// A stop was requested and the run has not finished yet.
  bool Stopping() const { return stopping_.load(); }

  // --- Events. Set on the main thread; a handler set during a run applies from its next use.
  /// The run has ended (the chain ran dry, the output drained, a stop or a failure). Posted by
  /// the output's thread after it parked; runs on the main thread, which may call `Run` at once.
  void SetOnDone(TOutputDoneEvent handler);
  /// The progress percentage changed. Posted by the output's thread; runs on the main thread.
  void SetOnProgress(TOutputProgressEvent handler);
  /// A run ended with a failure (`ErrorMessage`). Posted by the output's thread; runs on the
  /// main thread, before the run's `OnDone`.
  void SetOnThreadException(TThreadExceptionEvent handler);
  /// Called on the output's thread at the end of every run, before `OnDone` is posted.
  void SetOnSyncDone(TOutputDoneEvent handler);
  TOutputDoneEvent OnDone() const;
  TOutputProgressEvent OnProgress() const;
  TThreadExceptionEvent OnThreadException() const;
  TOutputDoneEvent OnSyncDone() const;

  /// The thread that runs this output's runs.
  TAudioThread& Thread() const { return *thread_; }

 protected:
  /// Prepares the device and opens `Input` before a run. Output's thread.
  virtual void OpenOutput() = 0;
  /// Writes one block. `abort` is the stop flag: true when the run is being stopped. False when
  /// the run is over (the chain ran dry or the device has drained). Output's thread.
  virtual bool OutputStep(bool abort) = 0;
  /// Releases the device and closes `Input` after a run. Output's thread.
  virtual void CloseOutput() = 0;
  /// The run is about to park in a pause (stop the device where it is) and has just left it
  /// (by a resume or a stop). Output's thread, between two steps. Base: nothing.
  virtual void PauseOutput() {}
  virtual void ResumeOutput() {}

  /// A stop or a pause is waiting for the step in progress to end: a step waiting for data
  /// asks between short waits. Output's thread.
  bool RunCalledOff() const;
  /// Asks for a pause and waits up to `timeout` for the run to park in it; true when it did.
  bool PauseAndWait(std::chrono::milliseconds timeout);

  /// Drops `Input` when that stage is destroyed.
  void Notification(TComponent* removed) override;

  /// Replaces `kStopWait` (a test output that misbehaves on purpose shortens it). Main thread,
  /// while idle.
  void SetStopWait(std::chrono::milliseconds wait) { stop_wait_ = wait; }

  /// A subclass may clear `Active` itself once it has drained. Output's thread.
  void SetActive(bool value) { active_.store(value); }

  /// Ends the thread before the subclass part is destroyed: a subclass destructor must call
  /// it first, since the thread calls the subclass's operations. Safe to call twice.
  void ShutDown();

 private:
  friend class TAudioThread;

  /// The dispatcher reference this output holds.
  std::shared_ptr<TEventHandler> events_;
  std::atomic<TAudioInput*> input_{nullptr};
  std::atomic<bool> busy_{false};
  std::atomic<bool> active_{false};
  std::atomic<bool> stopping_{false};
  /// A synchronous stop gave up waiting: the thread lifts the event block when the run ends.
  std::atomic<bool> unblock_on_park_{false};
  // Output's thread only.
  int last_progress_ = -1;
  // Main thread only.
  std::chrono::milliseconds stop_wait_ = kStopWait;
  /// Held only inside `Run`.
  std::recursive_mutex output_lock_;
  // --- guarded by state_lock_ (main thread writes events; the output's thread reads them)
  std::string error_message_;
  TOutputDoneEvent on_done_;
  TOutputProgressEvent on_progress_;
  TThreadExceptionEvent on_thread_exception_;
  TOutputDoneEvent on_sync_done_;
  mutable std::mutex state_lock_;
  std::unique_ptr<TAudioThread> thread_;
};

}  // namespace djkivo
