#include "audio/audio_thread.h"

#include <exception>

#include "audio/audio_output.h"
#include "audio/event_handler.h"
#include "base/thread_name.h"

namespace djkivo {

namespace {
// Latency of a wait that also runs other work between its checks.
constexpr std::chrono::milliseconds kWaitSlice{1};
}  // namespace

TAudioThread::TAudioThread(TAudioOutput* output) : output_(output) {
  thread_ = std::thread([this] { Execute(); });
}

TAudioThread::~TAudioThread() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    stop_flag_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

bool TAudioThread::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_ && !run_requested_;
}

bool TAudioThread::Paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

bool TAudioThread::RunFinished() const {
  std::lock_guard lock(mutex_);
  return run_finished_;
}

bool TAudioThread::ReportDone() const {
  std::lock_guard lock(mutex_);
  return report_done_;
}

std::uint64_t TAudioThread::RunCount() const {
  std::lock_guard lock(mutex_);
  return run_count_;
}

bool TAudioThread::StopFlag() const {
  std::lock_guard lock(mutex_);
  return stop_flag_;
}

bool TAudioThread::PausePending() const {
  std::lock_guard lock(mutex_);
  return pause_requested_;
}

void TAudioThread::RequestRun() {
  {
    std::lock_guard lock(mutex_);
    run_requested_ = true;
    run_finished_ = false;
    stop_flag_ = false;
  }
  changed_.notify_all();
}

void TAudioThread::RequestStop(bool report_done) {
  {
    std::lock_guard lock(mutex_);
    report_done_ = report_done;
    stop_flag_ = true;
  }
  changed_.notify_all();
}

void TAudioThread::SetReportDone(bool value) {
  std::lock_guard lock(mutex_);
  report_done_ = value;
}

bool TAudioThread::RequestPause(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  pause_requested_ = true;
  // A run that is requested but has not started yet honours the request at its first step.
  return changed_.wait_for(lock, timeout, [this] {
    return paused_ || (waiting_ && !run_requested_) || terminated_;
  }) && paused_;
}

bool TAudioThread::RequestResume(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  pause_requested_ = false;  // a pause that has not happened yet is called off too
  if (!paused_)
    return true;
  resume_requested_ = true;
  changed_.notify_all();
  return changed_.wait_for(lock, timeout, [this] { return !paused_; });
}

bool TAudioThread::WaitParked(std::chrono::milliseconds timeout,
                              const std::function<void()>& while_waiting) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  while (!(waiting_ && !run_requested_)) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    if (while_waiting) {
      lock.unlock();
      while_waiting();
      lock.lock();
    }
    changed_.wait_for(lock, kWaitSlice);
  }
  return true;
}

void TAudioThread::Execute() {
  NameThisThread("djk-output");
  id_.store(std::this_thread::get_id());
  while (Park())
    RunOnce();
}

bool TAudioThread::Park() {
  std::unique_lock lock(mutex_);
  if (!run_requested_)
    run_finished_ = true;
  waiting_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return run_requested_ || terminated_; });
  waiting_ = false;
  if (terminated_)
    return false;
  run_requested_ = false;
  ++run_count_;
  paused_ = false;
  resume_requested_ = false;
  return true;
}

void TAudioThread::PauseHere() {
  std::unique_lock lock(mutex_);
  if (!pause_requested_)
    return;
  pause_requested_ = false;
  resume_requested_ = false;
  paused_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return resume_requested_ || stop_flag_ || terminated_; });
  paused_ = false;
  resume_requested_ = false;
  changed_.notify_all();
}

void TAudioThread::RunOnce() {
  TAudioOutput& out = *output_;
  try {
    // A cancel left from the last run is dropped before the stop check: a stop that comes after
    // the check cancels the open below, one that comes before it skips the run, which still
    // finishes and reports.
    if (TAudioInput* input = out.Input())
      input->ResetCancel();
    if (!StopFlag()) {
      out.OpenOutput();
      out.active_.store(true);
      bool more = true;
      while (more && !StopFlag()) {
        const int progress = out.Progress();
        if (progress != out.last_progress_) {
          out.last_progress_ = progress;
          if (TOutputProgressEvent on_progress = out.OnProgress())
            out.events_->PostProgress(&out, std::move(on_progress));
        }
        if (PausePending()) {
          out.PauseOutput();
          PauseHere();
          out.ResumeOutput();
          continue;  // a stop may have ended the pause
        }
        more = out.OutputStep(StopFlag());
      }
    }
  } catch (...) {
    std::string message = "Unknown audio failure";
    try {
      throw;
    } catch (const std::exception& e) {
      message = e.what();
    } catch (...) {
    }
    {
      std::lock_guard lock(out.state_lock_);
      out.error_message_ = message;
    }
    if (TThreadExceptionEvent on_exception = out.OnThreadException())
      out.events_->PostEvent(&out, std::move(on_exception));
    std::lock_guard lock(mutex_);
    stop_flag_ = true;
  }

  {
    // A pause request that the run did not reach must not pause the next one.
    std::lock_guard lock(mutex_);
    pause_requested_ = false;
  }

  // The finish step. A failure here only ends the run.
  try {
    if (out.busy_.load()) {
      out.active_.store(false);
      out.CloseOutput();
    }
  } catch (...) {
  }
  out.active_.store(false);
  out.stopping_.store(false);
  out.busy_.store(false);

  if (TOutputDoneEvent on_sync_done = out.OnSyncDone()) {
    try {
      on_sync_done(&out);
    } catch (...) {
      // Exceptions never leave the output's thread; the run has ended anyway.
    }
  }
  out.events_->PostDone(&out, this);
  // A synchronous stop that gave up waiting left this output's events blocked: the run has
  // now ended, so later runs report again.
  if (out.unblock_on_park_.exchange(false)) {
    out.events_->UnblockEvents(&out);
    SetReportDone(true);
  }
}

}  // namespace djkivo
