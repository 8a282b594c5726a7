// The output's worker thread: parks between runs, pulls the chain through the output during a
// run, honours pause and stop requests, and reports the end of every run.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace djkivo {

class TAudioOutput;

/// One per output, created with it and living until it is destroyed.
///
/// Between runs the thread is parked (`Waiting`). A run (requested by `TAudioOutput::Run`)
/// opens the output (`OpenOutput`), calls `OutputStep` until it answers false or a stop is
/// requested, reporting progress on the way, then closes the output, calls `OnSyncDone` on
/// this thread, posts the run's done event to the dispatcher and parks again, unless another
/// run was requested meanwhile, which then starts at once. An exception from a run never
/// leaves the thread: its message goes to the output's `ErrorMessage` and `OnThreadException`
/// is posted before the done event.
///
/// The hand-over flags (`Waiting`, `Paused`, `RunFinished`, stop, pause and resume requests)
/// live under one mutex with a condition variable, so a request can never be lost between a
/// flag test and a wait.
///
/// Threads: the request methods are called by the output on the main thread (or whichever
/// thread drives it); the queries from any thread.
class TAudioThread {
 public:
  /// Starts the thread, which parks at once.
  explicit TAudioThread(TAudioOutput* output);
  /// Ends the thread: any run is stopped, the thread leaves its park and is joined.
  ~TAudioThread();
  TAudioThread(const TAudioThread&) = delete;
  TAudioThread& operator=(const TAudioThread&) = delete;

  TAudioOutput* Output() const { return output_; }

  /// Parked, with no run requested.
  bool Waiting() const;
  /// Parked inside a run, waiting for a resume (or a stop).
  bool Paused() const;
  /// The last run has ended and no new run was requested.
  bool RunFinished() const;
  /// Whether the current run's end is reported through `OnDone` (true unless a synchronous
  /// stop cleared it).
  bool ReportDone() const;
  /// Runs started so far; a done event names the run it belongs to.
  std::uint64_t RunCount() const;
  /// The stop flag of the current run.
  bool StopFlag() const;
  /// A pause was asked for and the run has not parked in it yet.
  bool PausePending() const;
  /// True when called on this thread.
  bool IsCurrentThread() const { return std::this_thread::get_id() == id_.load(); }

  // --- Requests, from the output.
  /// Leaves the park (or, during the finish of a run, goes straight on) for a new run.
  void RequestRun();
  /// Ends the current run after the step in progress; wakes a paused run. `report_done`
  /// decides whether `OnDone` is delivered for it.
  void RequestStop(bool report_done);
  void SetReportDone(bool value);
  /// Asks the run to pause before its next step, then waits up to `timeout` for it to do so.
  /// False when it did not pause in time.
  bool RequestPause(std::chrono::milliseconds timeout);
  /// Wakes a paused run and waits up to `timeout` until it is no longer paused; a pause that
  /// was requested but not reached yet is called off.
  bool RequestResume(std::chrono::milliseconds timeout);
  /// Waits up to `timeout` until the thread has parked with no run requested. `while_waiting`
  /// is called between short waits (the main thread runs its pending calls there).
  bool WaitParked(std::chrono::milliseconds timeout, const std::function<void()>& while_waiting);

 private:
  void Execute();
  /// Parks until a run is requested or the thread is terminated; true for a run.
  bool Park();
  void RunOnce();
  /// Honours a pause request: parks until resumed or stopped.
  void PauseHere();

  TAudioOutput* const output_;
  std::atomic<std::thread::id> id_{};
  // --- guarded by mutex_ (the hand-over flags)
  bool waiting_ = false;
  bool paused_ = false;
  bool run_requested_ = false;
  bool run_finished_ = true;
  bool stop_flag_ = false;
  bool pause_requested_ = false;
  bool resume_requested_ = false;
  bool report_done_ = true;
  bool terminated_ = false;
  std::uint64_t run_count_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // any of the flags above changed
  std::thread thread_;
};

}  // namespace djkivo
