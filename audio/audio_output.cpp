#include "audio/audio_output.h"

#include <cmath>

#include "audio/audio_error.h"
#include "audio/audio_thread.h"
#include "audio/event_handler.h"
#include "base/main_thread.h"

namespace djkivo {

TAudioOutput::TAudioOutput()
    : events_(TEventHandler::Acquire()), thread_(std::make_unique<TAudioThread>(this)) {}

TAudioOutput::~TAudioOutput() { ShutDown(); }

void TAudioOutput::ShutDown() {
  if (!thread_)
    return;
  try {
    Stop(false);
  } catch (...) {
    // Only raised on the output's own thread, where the join below cannot work either.
  }
  thread_.reset();
  events_->Forget(this);
}

void TAudioOutput::Run() {
  std::lock_guard lock(output_lock_);
  {
    std::lock_guard state(state_lock_);
    error_message_.clear();
  }
  if (busy_.load())
    throw EAudioError("Component is Busy");
  if (input_.load() == nullptr)
    throw EAudioError("Input is not assigned");
  busy_.store(true);
  thread_->RequestRun();
}

void TAudioOutput::Stop(bool async) {
  if (thread_->IsCurrentThread())
    throw EAudioError("You are trying to stop this thread from the thread itself!");
  if (busy_.load())
    stopping_.store(true);
  thread_->RequestStop(async);
  // A step blocked in a read (an empty cache, a stalled source) ends now instead of at the
  // source's own time limit.
  if (busy_.load()) {
    if (TAudioInput* input = input_.load())
      input->CancelRead();
  }
  if (async)
    return;

  events_->BlockEvents(this);
  events_->RemoveEvents(this);
  MainThread* main = MainThread::Current();
  const bool on_main = main != nullptr && main->IsMainThread();
  const auto deadline = std::chrono::steady_clock::now() + stop_wait_;
  auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
  };
  const bool parked = thread_->WaitParked(left(), [&] {
    if (on_main)
      main->RunPending();
  }) && events_->WaitIdle(this, left());
  if (parked) {
    events_->UnblockEvents(this);
    thread_->SetReportDone(true);
    return;
  }
  // The run did not end in time (a stage that ignores its limits): return anyway and let the
  // thread lift the block when the run does end, so none of its events arrive after this.
  unblock_on_park_.store(true);
  if (thread_->Waiting() && unblock_on_park_.exchange(false)) {
    events_->UnblockEvents(this);
    thread_->SetReportDone(true);
  }
}

void TAudioOutput::Pause() {
  TAudioInput* input = input_.load();
  if (input == nullptr)
    throw EAudioError("Input is not assigned.");
  if (!busy_.load())
    return;
  thread_->RequestPause(kPauseWait);
  input->PauseInput();
}

void TAudioOutput::Resume() {
  if (!busy_.load())
    return;
  if (thread_->Paused()) {
    if (TAudioInput* input = input_.load())
      input->ResumeInput();
  }
  thread_->RequestResume(kResumeWait);
}

OutputStatus TAudioOutput::Status() const {
  if (!busy_.load())
    return OutputStatus::kIdle;
  return thread_->Paused() || thread_->PausePending() ? OutputStatus::kPaused
                                                      : OutputStatus::kPlaying;
}

bool TAudioOutput::RunCalledOff() const { return thread_->StopFlag() || thread_->PausePending(); }

bool TAudioOutput::PauseAndWait(std::chrono::milliseconds timeout) {
  return busy_.load() && thread_->RequestPause(timeout);
}

int TAudioOutput::Progress() const {
  TAudioInput* input = input_.load();
  if (input == nullptr)
    return 0;
  const std::int64_t size = input->Size();
  if (size == -1)
    return -1;
  if (size <= 0)
    return 0;
  const double percent =
      std::round(static_cast<double>(input->Position()) * 100.0 / static_cast<double>(size));
  // A converter's position may run past its estimated size; a percentage stays a percentage.
  if (percent < 0)
    return 0;
  return percent > 100 ? 100 : static_cast<int>(percent);
}

std::string TAudioOutput::ErrorMessage() const {
  std::lock_guard lock(state_lock_);
  return error_message_;
}

void TAudioOutput::SetInput(TAudioInput* input) {
  TAudioInput* old = input_.load();
  if (old == input)
    return;
  const bool was_busy = busy_.load();
  if (was_busy)
    Stop(false);
  if (old != nullptr)
    RemoveFreeNotification(old);
  if (input != nullptr)
    FreeNotification(input);
  input_.store(input);
  if (was_busy && input != nullptr)
    Run();
}

void TAudioOutput::Notification(TComponent* removed) {
  if (removed == input_.load()) {
    // The run must not go on pulling from a stage that is being destroyed.
    if (busy_.load())
      Stop(false);
    input_.store(nullptr);
  }
  TComponent::Notification(removed);
}

void TAudioOutput::SetOnDone(TOutputDoneEvent handler) {
  std::lock_guard lock(state_lock_);
  on_done_ = std::move(handler);
}

void TAudioOutput::SetOnProgress(TOutputProgressEvent handler) {
  std::lock_guard lock(state_lock_);
  on_progress_ = std::move(handler);
}

void TAudioOutput::SetOnThreadException(TThreadExceptionEvent handler) {
  std::lock_guard lock(state_lock_);
  on_thread_exception_ = std::move(handler);
}

void TAudioOutput::SetOnSyncDone(TOutputDoneEvent handler) {
  std::lock_guard lock(state_lock_);
  on_sync_done_ = std::move(handler);
}

TOutputDoneEvent TAudioOutput::OnDone() const {
  std::lock_guard lock(state_lock_);
  return on_done_;
}

TOutputProgressEvent TAudioOutput::OnProgress() const {
  std::lock_guard lock(state_lock_);
  return on_progress_;
}

TThreadExceptionEvent TAudioOutput::OnThreadException() const {
  std::lock_guard lock(state_lock_);
  return on_thread_exception_;
}

TOutputDoneEvent TAudioOutput::OnSyncDone() const {
  std::lock_guard lock(state_lock_);
  return on_sync_done_;
}

}  // namespace djkivo
