#include "audio/event_handler.h"

#include <cstdio>
#include <exception>

#include "audio/audio_output.h"
#include "audio/audio_thread.h"
#include "base/main_thread.h"
#include "base/thread_name.h"

namespace djkivo {

namespace {
std::mutex g_instance_lock;
std::weak_ptr<TEventHandler> g_instance;  // guarded by g_instance_lock

// How long `Forget` waits for a record of its sender to finish dispatching; the dispatcher
// is then inside a main-thread handler that the caller is not running.
constexpr std::chrono::milliseconds kForgetWait{20000};
// How often a wait on the main thread runs its pending calls.
constexpr std::chrono::milliseconds kPumpInterval{1};

// Runs the main thread's pending calls when the caller is the main thread, so a dispatcher
// blocked in `MainThread::Call` cannot stall the caller's wait.
void RunPendingIfMain() {
  MainThread* main = MainThread::Current();
  if (main != nullptr && main->IsMainThread())
    main->RunPending();
}
}  // namespace

std::shared_ptr<TEventHandler> TEventHandler::Acquire() {
  std::lock_guard lock(g_instance_lock);
  if (auto existing = g_instance.lock())
    return existing;
  std::shared_ptr<TEventHandler> created(new TEventHandler());
  g_instance = created;
  return created;
}

TEventHandler::TEventHandler() {
  thread_ = std::thread([this] { Execute(); });
}

TEventHandler::~TEventHandler() {
  {
    std::lock_guard lock(queue_lock_);
    terminated_ = true;
  }
  queue_event_.notify_all();
  if (thread_.get_id() == std::this_thread::get_id()) {
    // The last reference went away inside an urgent call on the dispatcher thread itself.
    thread_.detach();
    return;
  }
  // The dispatcher may be inside a main-thread call: keep the main thread's calls running
  // until it has left its loop.
  std::unique_lock lock(queue_lock_);
  while (!exited_) {
    lock.unlock();
    RunPendingIfMain();
    lock.lock();
    idle_.wait_for(lock, kPumpInterval);
  }
  lock.unlock();
  thread_.join();
}

void TEventHandler::PostProgress(TComponent* sender, TOutputProgressEvent handler) {
  Post(Record{Kind::kProgress, sender, std::move(handler), nullptr, 0, false}, false);
}

void TEventHandler::PostDone(TAudioOutput* output, TAudioThread* thread) {
  Post(Record{Kind::kDone, output, {}, thread, thread->RunCount(), thread->ReportDone()}, false);
}

void TEventHandler::PostEvent(TComponent* sender, TGenericEvent handler) {
  Post(Record{Kind::kEvent, sender, std::move(handler), nullptr, 0, false}, false);
}

void TEventHandler::PostUrgentCall(TComponent* sender, TGenericEvent handler) {
  Post(Record{Kind::kUrgent, sender, std::move(handler), nullptr, 0, false}, true);
}

void TEventHandler::Post(Record record, bool at_head) {
  {
    std::lock_guard lock(queue_lock_);
    if (!terminated_ && !Blocked(record.sender)) {
      if (at_head)
        queue_.push_front(std::move(record));
      else
        queue_.push_back(std::move(record));
    }
  }
  queue_event_.notify_one();
}

void TEventHandler::RemoveEvents(TComponent* sender) {
  std::lock_guard lock(queue_lock_);
  std::erase_if(queue_, [sender](const Record& record) { return record.sender == sender; });
}

void TEventHandler::BlockEvents(TComponent* sender) {
  std::lock_guard lock(queue_lock_);
  blocked_.insert(sender);
}

void TEventHandler::UnblockEvents(TComponent* sender) {
  std::lock_guard lock(queue_lock_);
  auto it = blocked_.find(sender);
  if (it != blocked_.end())
    blocked_.erase(it);
}

bool TEventHandler::Blocked(TComponent* sender) const { return blocked_.count(sender) > 0; }

bool TEventHandler::Idle(TComponent* sender) const {
  std::lock_guard lock(queue_lock_);
  return dispatching_ != sender || delivering_;
}

bool TEventHandler::WaitIdle(TComponent* sender, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(queue_lock_);
  while (dispatching_ == sender && !delivering_) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    lock.unlock();
    RunPendingIfMain();
    lock.lock();
    idle_.wait_for(lock, kPumpInterval);
  }
  return true;
}

void TEventHandler::Forget(TComponent* sender) {
  BlockEvents(sender);
  RemoveEvents(sender);
  WaitIdle(sender, kForgetWait);
  UnblockEvents(sender);
}

void TEventHandler::Execute() {
  NameThisThread("djk-dispatch");
  std::unique_lock lock(queue_lock_);
  while (!terminated_) {
    // Post and the last reference's release both notify under this lock's protection of the
    // flags, so the wait cannot miss either.
    queue_event_.wait(lock, [this] { return terminated_ || !queue_.empty(); });
    if (terminated_)
      break;
    Record record = std::move(queue_.front());
    queue_.pop_front();
    dispatching_ = record.sender;
    delivering_ = false;
    lock.unlock();
    Dispatch(record);
    record = Record{};  // the handler's captures go before the sender may be destroyed
    lock.lock();
    dispatching_ = nullptr;
    delivering_ = false;
    idle_.notify_all();
  }
  queue_.clear();
  exited_ = true;
  idle_.notify_all();
}

void TEventHandler::Dispatch(Record& record) {
  switch (record.kind) {
    case Kind::kUrgent: {
      std::lock_guard lock(queue_lock_);
      delivering_ = true;  // a stop from inside the call must not wait for the call itself
    }
      try {
        record.handler(record.sender);
      } catch (const std::exception& e) {
        // Nothing above the dispatcher could catch it; losing the thread would end all events.
        std::fprintf(stderr, "audio event failed: %s\n", e.what());
      }
      return;
    case Kind::kProgress:
    case Kind::kEvent:
      CallOnMain(record.sender, record.handler);
      return;
    case Kind::kDone: {
      // OnDone may call Run at once, so it waits until the thread has parked, or has already
      // gone on to a run requested meanwhile (then the done event belongs to the run before).
      TAudioThread* thread = record.thread;
      while (!thread->Waiting() && thread->RunCount() == record.run) {
        {
          std::lock_guard lock(queue_lock_);
          if (terminated_ || Blocked(record.sender))
            return;
        }
        std::this_thread::sleep_for(kParkPoll);
      }
      if (!record.report_done)
        return;
      auto* output = static_cast<TAudioOutput*>(record.sender);
      if (TOutputDoneEvent on_done = output->OnDone())
        CallOnMain(output, on_done);
      return;
    }
  }
}

void TEventHandler::CallOnMain(TComponent* sender, const TAudioEvent& handler) {
  MainThread* main = MainThread::Current();
  if (main == nullptr || !handler)
    return;
  main->Call([this, sender, &handler, main] {
    {
      std::lock_guard lock(queue_lock_);
      if (Blocked(sender))
        return;
      delivering_ = true;
    }
    idle_.notify_all();
    try {
      handler(sender);
    } catch (...) {
      // The dispatcher waits for this call: hand the failure to the main loop as its own
      // task, so it is reported there and the dispatcher goes on.
      main->Post([error = std::current_exception()] { std::rethrow_exception(error); });
    }
  });
}

}  // namespace djkivo
