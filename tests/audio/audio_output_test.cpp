// Covers audio/audio_output, audio_thread and event_handler: runs, stops of both kinds, pause
// and resume, failures on the output's thread, events in order and never after a synchronous
// stop, Run from OnDone, the dispatcher stalled on the main thread, prompt destruction.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_error.h"
#include "audio/audio_thread.h"
#include "audio/event_handler.h"
#include "base/main_thread.h"
#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using test::TClockOutput;
using test::TMemoryPcmSource;

constexpr auto kLong = 10s;  // a bound for things that take milliseconds

TMemoryPcmSource::Config Source(std::uint64_t data, std::int64_t reported = -2) {
  TMemoryPcmSource::Config config;
  config.data_bytes = data;
  config.reported_size = reported;
  return config;
}

TClockOutput::Config Output(bool gated = false, std::uint64_t rate = 0) {
  TClockOutput::Config config;
  config.gated = gated;
  config.bytes_per_second = rate;
  return config;
}

class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { MainThread::Install(&main_); }
  void TearDown() override { MainThread::Install(nullptr); }

  // Records every event of `output` as text, checking it arrives on the main thread.
  void Watch(TAudioOutput& output) {
    auto record = [this](std::string what) {
      return [this, what](TComponent*) {
        EXPECT_TRUE(main_.IsMainThread()) << what;
        log_.push_back(what);
      };
    };
    output.SetOnDone(record("done"));
    output.SetOnThreadException(record("exception"));
    output.SetOnProgress([this, &output](TComponent* sender) {
      EXPECT_EQ(sender, &output);
      log_.push_back("progress " + std::to_string(output.Progress()));
    });
  }
  int Count(const std::string& what) const {
    int n = 0;
    for (const auto& entry : log_)
      n += entry == what;
    return n;
  }
  bool PumpUntilDone(int done, std::chrono::milliseconds timeout = kLong) {
    return main_.PumpUntil([&] { return Count("done") >= done; }, timeout);
  }

  QueueMainThread main_;
  std::vector<std::string> log_;  // main thread only
};

TEST_F(AudioOutputTest, ARunPlaysTheWholeChainAndReportsProgressThenDoneOnce) {
  TMemoryPcmSource source(Source(400000));
  TClockOutput output(Output());
  output.SetInput(&source);
  Watch(output);
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
  output.Run();
  ASSERT_TRUE(PumpUntilDone(1));
  main_.PumpUntil([] { return false; }, 50ms);  // anything late would show up here
  EXPECT_EQ(output.bytes(), 400000u);
  EXPECT_EQ(output.mismatch_at(), -1);
  EXPECT_TRUE(output.reached_end());
  EXPECT_EQ(Count("done"), 1);
  EXPECT_EQ(Count("exception"), 0);
  EXPECT_EQ(log_.back(), "done");
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
  EXPECT_EQ(output.ErrorMessage(), "");
  // Progress arrives in order: every reported value at least the one before.
  int last = -1, progress_events = 0;
  for (const auto& entry : log_) {
    if (entry.rfind("progress ", 0) != 0)
      continue;
    const int value = std::stoi(entry.substr(9));
    EXPECT_GE(value, last);
    last = value;
    ++progress_events;
  }
  EXPECT_GT(progress_events, 10);
  EXPECT_EQ(last, 100);
  EXPECT_EQ(source.closes(), 1) << "the run closes the chain";
}

TEST_F(AudioOutputTest, RefusedRequests) {
  TClockOutput output(Output());
  auto expect_error = [](auto action, const char* message) {
    try {
      action();
      ADD_FAILURE() << "expected: " << message;
    } catch (const EAudioError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expect_error([&] { output.Run(); }, "Input is not assigned");
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
  expect_error([&] { output.Pause(); }, "Input is not assigned.");
  EXPECT_EQ(output.Progress(), 0);

  TMemoryPcmSource source(Source(100000));
  TClockOutput gated(Output(true));
  gated.SetInput(&source);
  Watch(gated);
  gated.Run();
  ASSERT_TRUE(gated.WaitGate(kLong));
  expect_error([&] { gated.Run(); }, "Component is Busy");
  gated.AllowSteps(1000000);
  ASSERT_TRUE(PumpUntilDone(1));
  EXPECT_EQ(gated.bytes(), 100000u) << "the refused Run left the first run untouched";
  EXPECT_EQ(gated.runs(), 1);
}

TEST_F(AudioOutputTest, ProgressOfInputsOfUnknownAndZeroSize) {
  struct Case {
    std::int64_t reported;
    int progress;
  };
  for (const Case c : {Case{-1, -1}, Case{0, 0}}) {
    SCOPED_TRACE(c.reported);
    TMemoryPcmSource source(Source(100000, c.reported));
    TClockOutput output(Output(true));
    output.SetInput(&source);
    output.Run();
    ASSERT_TRUE(output.WaitGate(kLong));
    EXPECT_EQ(output.Progress(), c.progress);
    output.Stop(false);
  }
}

TEST_F(AudioOutputTest, NoEventOfAnOutputArrivesAfterASynchronousStop) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    log_.clear();
    TMemoryPcmSource source(Source(1 << 20));
    TClockOutput output(Output(false, 4 << 20));  // about a quarter second of playing
    output.SetInput(&source);
    Watch(output);
    output.Run();
    // Stop at a different moment each round, pumping events meanwhile.
    main_.PumpUntil([&] { return output.bytes() >= std::uint64_t(round) * 8192; }, kLong);
    output.Stop(false);
    EXPECT_EQ(output.Status(), OutputStatus::kIdle);
    const std::size_t at_stop = log_.size();
    main_.PumpUntil([] { return false; }, 30ms);
    EXPECT_EQ(log_.size(), at_stop) << "an event arrived after Stop(false): " << log_.back();
    EXPECT_EQ(Count("done"), 0);
  }
}

TEST_F(AudioOutputTest, AnAsynchronousStopReportsDoneExactlyOnce) {
  TMemoryPcmSource source(Source(1 << 20));
  TClockOutput output(Output(true));
  output.SetInput(&source);
  Watch(output);
  output.Run();
  ASSERT_TRUE(output.WaitGate(kLong));
  output.Stop(true);
  ASSERT_TRUE(PumpUntilDone(1));
  main_.PumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(Count("done"), 1);
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
}

TEST_F(AudioOutputTest, RunFromInsideOnDoneStartsTheNextRun) {
  TMemoryPcmSource source(Source(50000));
  TClockOutput output(Output());
  output.SetInput(&source);
  int done = 0;
  output.SetOnDone([&](TComponent*) {
    if (++done < 3)
      output.Run();  // the window starts the next song from here
  });
  output.Run();
  ASSERT_TRUE(main_.PumpUntil([&] { return done == 3; }, kLong));
  EXPECT_EQ(output.runs(), 3);
  EXPECT_EQ(output.bytes(), 50000u);
  EXPECT_EQ(source.opens(), 3);
}

TEST_F(AudioOutputTest, PauseResumeAndStopWhilePaused) {
  TMemoryPcmSource source(Source(1 << 20));
  TClockOutput output(Output(false, 2 << 20));
  output.SetInput(&source);
  Watch(output);
  output.Run();
  output.Pause();
  EXPECT_EQ(output.Status(), OutputStatus::kPaused);
  const std::uint64_t paused_at = output.bytes();
  main_.PumpUntil([] { return false; }, 20ms);
  EXPECT_EQ(output.bytes(), paused_at) << "a paused run pulls nothing";
  output.Resume();
  EXPECT_EQ(output.Status(), OutputStatus::kPlaying);
  ASSERT_TRUE(main_.PumpUntil([&] { return output.bytes() > paused_at; }, kLong));
  output.Pause();
  EXPECT_EQ(output.Status(), OutputStatus::kPaused);
  output.Stop(false);  // a stop ends a paused run too
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
  EXPECT_EQ(Count("done"), 0);
  // The output is ready for the next run.
  output.Run();
  ASSERT_TRUE(PumpUntilDone(1));
  EXPECT_EQ(output.bytes(), 1u << 20);
}

TEST_F(AudioOutputTest, FailuresEndTheRunWithExceptionThenDone) {
  struct Case {
    const char* name;
    std::string source_open, source_read, output_open, output_step;
    const char* message;
  };
  const Case cases[] = {
      {"source fails to open", "no such stream", "", "", "", "no such stream"},
      {"source fails to read", "", "stream broken", "", "", "stream broken"},
      {"device fails to open", "", "", "no device", "", "no device"},
      {"device fails in a step", "", "", "", "device failed", "device failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    auto source_config = Source(100000);
    source_config.fail_open = c.source_open;
    if (!c.source_read.empty()) {
      source_config.fail_read_at = 50000;
      source_config.fail_read = c.source_read;
    }
    TMemoryPcmSource source(source_config);
    auto output_config = Output();
    output_config.fail_open = c.output_open;
    if (!c.output_step.empty()) {
      output_config.fail_step_after = 20000;
      output_config.fail_step = c.output_step;
    }
    TClockOutput output(output_config);
    output.SetInput(&source);
    Watch(output);
    output.Run();
    ASSERT_TRUE(PumpUntilDone(1));
    EXPECT_EQ(output.ErrorMessage(), c.message);
    ASSERT_GE(log_.size(), 2u);
    EXPECT_EQ(log_[log_.size() - 2], "exception");
    EXPECT_EQ(log_.back(), "done");
    EXPECT_FALSE(source.Busy()) << "a failed run still closes the chain";
  }
}

TEST_F(AudioOutputTest, StopOnTheOutputsOwnThreadIsRefused) {
  TMemoryPcmSource source(Source(10000));
  TClockOutput output(Output());
  output.SetInput(&source);
  Watch(output);
  std::string message;
  output.SetOnSyncDone([&](TComponent*) {
    try {
      output.Stop(false);
    } catch (const EAudioError& e) {
      message = e.what();
    }
  });
  output.Run();
  ASSERT_TRUE(PumpUntilDone(1));
  EXPECT_EQ(message, "You are trying to stop this thread from the thread itself!");
}

TEST_F(AudioOutputTest, SynchronousStopCompletesWhileTheDispatcherWaitsOnTheMainThread) {
  test::WatchedMainThread watched(main_);
  MainThread::Install(&watched);
  auto events = TEventHandler::Acquire();
  TMemoryPcmSource source(Source(1 << 20));
  TClockOutput output(Output(true));
  output.SetInput(&source);
  Watch(output);
  // Another stage's event: the dispatcher takes it to the main thread, which is not pumping.
  TMemoryPcmSource other(Source(10));
  bool other_delivered = false;
  events->PostEvent(&other, [&](TComponent*) { other_delivered = true; });
  ASSERT_TRUE(watched.WaitForCall(kLong));
  output.Run();
  ASSERT_TRUE(output.WaitGate(kLong));
  output.Stop(false);  // must not wait for a main thread that is waiting here
  EXPECT_EQ(output.Status(), OutputStatus::kIdle);
  EXPECT_TRUE(other_delivered) << "the stop ran the pending call; other stages are not affected";
  main_.PumpUntil([] { return false; }, 30ms);
  for (const auto& entry : log_)
    EXPECT_NE(entry, "done");
  MainThread::Install(&main_);
}

TEST_F(AudioOutputTest, ChangingTheInputDuringARunRestartsOnTheNewInput) {
  TMemoryPcmSource first(Source(1 << 20));
  TMemoryPcmSource second(Source(30000));
  TClockOutput output(Output(false, 1 << 20));
  output.SetInput(&first);
  Watch(output);
  output.Run();
  ASSERT_TRUE(main_.PumpUntil([&] { return output.bytes() > 0; }, kLong));
  output.SetInput(&second);
  EXPECT_EQ(first.closes(), 1);
  ASSERT_TRUE(PumpUntilDone(1));
  EXPECT_EQ(output.bytes(), 30000u);
  EXPECT_EQ(output.runs(), 2);
}

TEST_F(AudioOutputTest, ASynchronousStopReturnsEvenWhenAStepHangs) {
  TMemoryPcmSource source(Source(1 << 20));
  auto config = Output();
  config.hang_after = 65536;
  config.stop_wait = 200ms;
  TClockOutput output(config);
  output.SetInput(&source);
  Watch(output);
  output.Run();
  ASSERT_TRUE(output.WaitHang(kLong));
  output.Stop(false);  // gives up after its bound instead of hanging the window
  EXPECT_EQ(output.Status(), OutputStatus::kPlaying) << "the run is still in its step";
  output.ReleaseHang();
  ASSERT_TRUE(main_.PumpUntil([&] { return output.Status() == OutputStatus::kIdle; }, kLong));
  main_.PumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(Count("done"), 0) << "the stopped run stays silent after it ends";
  // Later runs report again.
  output.Run();
  ASSERT_TRUE(PumpUntilDone(1));
  EXPECT_EQ(output.bytes(), 1u << 20);
}

TEST_F(AudioOutputTest, DestroyingAPlayingOutputEndsPromptlyEvenOnAStalledSource) {
  auto config = Source(1 << 20);
  config.stall_at = 100000;
  config.stall_limit = 120s;  // far beyond the test's patience
  TMemoryPcmSource source(config);
  auto output = std::make_unique<TClockOutput>(Output());
  output->SetInput(&source);
  Watch(*output);
  output->Run();
  ASSERT_TRUE(source.WaitStalled(kLong));
  const auto started = std::chrono::steady_clock::now();
  output.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
  EXPECT_FALSE(source.Busy());
  EXPECT_EQ(Count("done"), 0);
}

}  // namespace
}  // namespace djkivo
