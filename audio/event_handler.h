// The process-wide audio event dispatcher: carries the chain's events from the audio threads to
// the main thread, one at a time, in posting order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "audio/audio_component.h"

namespace djkivo {

class TAudioOutput;
class TAudioThread;

/// One dispatcher per process, shared by reference count: every output holds a reference
/// (`Acquire`) from its creation to its destruction, and so may any stage that posts events;
/// the last reference to go ends the dispatcher thread and frees it.
///
/// Record kinds: 0 progress and 2 general events run their handler on the main thread through
/// `MainThread::Call` (the dispatcher waits until it has run); 1 run done waits until the
/// output's thread has parked (or started a later run), then runs `OnDone` on the main thread
/// if the run reported it; 3 urgent calls go to the head of the queue and run on the dispatcher
/// thread itself. Events are dropped when no main thread is installed.
///
/// A sender's events can be blocked (`BlockEvents`): while blocked, its new records are
/// discarded and a record already on its way to the main thread is not run there. An output's
/// synchronous stop blocks, removes the queued records and waits (`WaitIdle`) until none of its
/// records is being dispatched, so nothing of it is delivered afterwards.
///
/// Shutdown order: the last reference is released; the thread finishes the record in hand,
/// drops the rest of the queue and ends; the dispatcher is freed.
///
/// The dispatcher thread sleeps on an empty queue until a record is posted or the last
/// reference goes, so an idle player costs it no wake-ups.
///
/// Threads: every method may be called from any thread.
class TEventHandler {
 public:
  /// Poll interval of a done record waiting for its thread to park.
  static constexpr std::chrono::milliseconds kParkPoll{10};

  /// A reference to the process's dispatcher, creating and starting it if there is none.
  static std::shared_ptr<TEventHandler> Acquire();

  ~TEventHandler();
  TEventHandler(const TEventHandler&) = delete;
  TEventHandler& operator=(const TEventHandler&) = delete;

  /// Appends a progress record (kind 0).
  void PostProgress(TComponent* sender, TOutputProgressEvent handler);
  /// Appends a run-done record (kind 1) for the run `thread` is finishing.
  void PostDone(TAudioOutput* output, TAudioThread* thread);
  /// Appends a general event record (kind 2): every notification a stage raises from an audio
  /// thread (the stream input's, the analyser's, the output's underrun).
  void PostEvent(TComponent* sender, TGenericEvent handler);
  /// Inserts an urgent record (kind 3) at the head of the queue; its handler runs on the
  /// dispatcher thread.
  void PostUrgentCall(TComponent* sender, TGenericEvent handler);
  /// Removes every queued record of `sender`.
  void RemoveEvents(TComponent* sender);
  /// Discards `sender`'s records from now on, until `UnblockEvents(sender)`.
  void BlockEvents(TComponent* sender);
  void UnblockEvents(TComponent* sender);
  /// True when no record of `sender` is being dispatched, or the one being dispatched has
  /// already started to run its handler (on the main thread, that is the caller's own stack).
  bool Idle(TComponent* sender) const;
  /// Waits up to `timeout` until `Idle(sender)`, running the main thread's pending calls when
  /// called there. False on timeout.
  bool WaitIdle(TComponent* sender, std::chrono::milliseconds timeout);
  /// Removes `sender`'s queued records and waits until none is being dispatched, running the
  /// main thread's pending calls when called there. For a sender's destructor.
  void Forget(TComponent* sender);

 private:
  enum class Kind { kProgress = 0, kDone = 1, kEvent = 2, kUrgent = 3 };
  struct Record {
    Kind kind = Kind::kEvent;
    TComponent* sender = nullptr;
    TAudioEvent handler;
    TAudioThread* thread = nullptr;  // kind 1
    std::uint64_t run = 0;           // kind 1: the run it reports
    bool report_done = false;        // kind 1: ReportDone when the run ended
  };

  TEventHandler();
  void Post(Record record, bool at_head);
  void Execute();
  void Dispatch(Record& record);
  /// Runs `handler(sender)` on the main thread unless `sender` is blocked by then.
  void CallOnMain(TComponent* sender, const TAudioEvent& handler);
  bool Blocked(TComponent* sender) const;  // queue_lock_ held

  // --- guarded by queue_lock_
  std::deque<Record> queue_;
  std::multiset<TComponent*> blocked_;
  TComponent* dispatching_ = nullptr;  // sender of the record in hand
  bool delivering_ = false;            // its handler has started
  bool terminated_ = false;
  bool exited_ = false;  // the dispatcher thread has left its loop
  mutable std::mutex queue_lock_;
  std::condition_variable queue_event_;  // a record was posted or the dispatcher ends
  std::condition_variable idle_;         // the record in hand changed
  std::thread thread_;
};

}  // namespace djkivo
