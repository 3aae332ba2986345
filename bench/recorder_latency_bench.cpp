// How quickly the recorder follows the trigger on the real sound server (run it inside
// scripts/test-session, or any desktop session with a default source):
//   start: from start() returning true to the first captured frame, with the source warmed up;
//   stop:  from stop() to the capture's end and to the completion with the converted file,
//          after a recording of some seconds (10 by default; the first argument changes it).
//   stalled server: the session's PulseAudio stopped with SIGSTOP (and always continued after):
//          how long start() and isRecording() take on the caller's thread, and how soon the
//          start's failure is known (the stop completes once the open has given up), and how
//          long a listing with a new connection takes on the main thread (the permission check)
//          and off it.
// The first frame is seen through a capture decorator, so the product code is measured as is.
// Prints the figures; never fails.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/recorder.h"
#include "platform/linux/audio_capture_pulse.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kStartRuns = 10;
constexpr int kStopRuns = 3;

// When one capture delivered its first frame and when it ended (zero: not yet).
struct CaptureMarks {
    std::atomic<Clock::rep> firstFrame{0};
    std::atomic<Clock::rep> ended{0};
};

Clock::rep ticksNow() {
    return Clock::now().time_since_epoch().count();
}

double millisBetween(Clock::rep from, Clock::rep to) {
    return std::chrono::duration<double, std::milli>(Clock::duration(to - from)).count();
}

// Passes everything to the real capture and timestamps what the capture thread delivers.
class TimestampingCapture final : public vurin::AudioCapture {
  public:
    explicit TimestampingCapture(std::shared_ptr<vurin::AudioCapture> inner)
        : inner_(std::move(inner)) {}

    vurin::AudioSourceList listSources() override { return inner_->listSources(); }

    vurin::AudioCaptureOpenResult open(const std::string& sourceName, vurin::AudioFormat format,
                                       vurin::AudioCaptureStream::Handlers handlers) override {
        auto marks = std::make_shared<CaptureMarks>();
        {
            std::lock_guard guard(mutex_);
            latest_ = marks;
        }
        handlers.onFrames = [marks, forward = std::move(handlers.onFrames)](const float* samples,
                                                                            std::size_t frames) {
            Clock::rep unset = 0;
            if (frames > 0) {
                marks->firstFrame.compare_exchange_strong(unset, ticksNow());
            }
            forward(samples, frames);
        };
        handlers.onEnded = [marks,
                            forward = std::move(handlers.onEnded)](const std::string& error) {
            marks->ended.store(ticksNow());
            forward(error);
        };
        return inner_->open(sourceName, format, std::move(handlers));
    }

    std::shared_ptr<CaptureMarks> latest() {
        std::lock_guard guard(mutex_);
        return latest_;
    }

  private:
    const std::shared_ptr<vurin::AudioCapture> inner_;
    std::mutex mutex_;
    std::shared_ptr<CaptureMarks> latest_;
};

struct StopResult {
    Clock::rep completedAt = 0;
    std::optional<fs::path> file;
    double duration = 0;
};

// Stops and waits (bounded) for the completion; removes the converted file.
std::optional<StopResult> stopAndWait(vurin::Recorder& recorder) {
    auto promise = std::make_shared<std::promise<StopResult>>();
    auto future = promise->get_future();
    recorder.stop([promise](vurin::RecordingResult result) {
        promise->set_value({ticksNow(), std::move(result.file), result.seconds});
    });
    if (future.wait_for(30s) != std::future_status::ready) {
        return std::nullopt;
    }
    StopResult result = future.get();
    if (result.file) {
        std::error_code ignored;
        fs::remove(*result.file, ignored);
    }
    return result;
}

// The marks of the capture that a start opens in the background after `previous`.
std::shared_ptr<CaptureMarks> nextMarks(TimestampingCapture& capture,
                                        const std::shared_ptr<CaptureMarks>& previous) {
    const auto deadline = Clock::now() + 5s;
    auto marks = capture.latest();
    while (marks == previous && Clock::now() < deadline) {
        std::this_thread::sleep_for(200us);
        marks = capture.latest();
    }
    return marks == previous ? nullptr : marks;
}

bool waitForFirstFrame(const CaptureMarks& marks) {
    const auto deadline = Clock::now() + 5s;
    while (marks.firstFrame.load() == 0) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(200us);
    }
    return true;
}

void printFigures(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-34s no run completed\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-34s median %8.2f ms   min %8.2f ms   max %8.2f ms   (%zu runs)\n", what,
                values[values.size() / 2], values.front(), values.back(), values.size());
}

void measureStart(vurin::Recorder& recorder, TimestampingCapture& capture) {
    std::vector<double> callTimes;
    std::vector<double> firstFrameTimes;
    int failed = 0;
    for (int run = 0; run < kStartRuns; ++run) {
        const auto previous = capture.latest();
        const auto called = ticksNow();
        if (!recorder.start(false)) {
            ++failed;
            continue;
        }
        const auto returned = ticksNow();
        const auto marks = nextMarks(capture, previous);
        if (marks && waitForFirstFrame(*marks)) {
            callTimes.push_back(millisBetween(called, returned));
            firstFrameTimes.push_back(millisBetween(returned, marks->firstFrame.load()));
        } else {
            ++failed;
        }
        std::this_thread::sleep_for(200ms);
        if (!stopAndWait(recorder)) {
            ++failed;
        }
    }
    std::printf("start (warm source, %d runs, %d failed):\n", kStartRuns, failed);
    printFigures("start() call", callTimes);
    printFigures("start() returned -> first frame", firstFrameTimes);
}

void measureStop(vurin::Recorder& recorder, TimestampingCapture& capture, double seconds) {
    std::vector<double> endedTimes;
    std::vector<double> completedTimes;
    std::vector<double> durations;
    int failed = 0;
    for (int run = 0; run < kStopRuns; ++run) {
        const auto previous = capture.latest();
        if (!recorder.start(false)) {
            ++failed;
            continue;
        }
        const auto marks = nextMarks(capture, previous);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const auto stopped = ticksNow();
        const auto result = stopAndWait(recorder);
        if (!result || !result->file || !marks || marks->ended.load() == 0) {
            ++failed;
            continue;
        }
        endedTimes.push_back(millisBetween(stopped, marks->ended.load()));
        completedTimes.push_back(millisBetween(stopped, result->completedAt));
        durations.push_back(result->duration * 1000);
    }
    std::printf("stop after %.1f s of recording (%d runs, %d failed):\n", seconds, kStopRuns,
                failed);
    printFigures("stop() -> capture ended", endedTimes);
    printFigures("stop() -> completion with 16k file", completedTimes);
    printFigures("recorded duration", durations);
}

// The PulseAudio of this session (scripts/test-session writes its pid file), or 0.
pid_t sessionPulsePid() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    pid_t pid = 0;
    if (runtime != nullptr) {
        std::ifstream(fs::path(runtime) / "pulse" / "pid") >> pid;
    }
    return pid;
}

void measureStalledServer(vurin::Recorder& recorder) {
    const pid_t pid = sessionPulsePid();
    if (pid <= 0 || ::kill(pid, SIGSTOP) != 0) {
        std::printf("stalled server: skipped, no PulseAudio pid file in XDG_RUNTIME_DIR\n");
        return;
    }
    // Continued whatever happens below, so the session's server is never left stopped.
    struct Continue {
        pid_t pid;
        ~Continue() { ::kill(pid, SIGCONT); }
    } const continueLater{pid};
    const auto called = ticksNow();
    const bool started = recorder.start(false);
    const auto returned = ticksNow();
    (void)recorder.isRecording();
    const auto asked = ticksNow();
    const auto result = stopAndWait(recorder);
    std::printf("stalled server (SIGSTOP), start() %s:\n", started ? "accepted" : "refused");
    printFigures("start() call", {millisBetween(called, returned)});
    printFigures("isRecording() call", {millisBetween(returned, asked)});
    if (result) {
        printFigures("start() -> failure known", {millisBetween(called, result->completedAt)});
    }
    // The permission check lists the sources on the main thread, connecting first.
    const auto listing = ticksNow();
    vurin::PulseAudioCapture(vurin::PulseCaller::mainThread).listSources();
    printFigures("main-thread listing, new connection", {millisBetween(listing, ticksNow())});
    // Off the main thread a first connection may take longer (a server coming up at login).
    const auto connecting = ticksNow();
    vurin::PulseAudioCapture().listSources();
    printFigures("background listing, new connection", {millisBetween(connecting, ticksNow())});
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 10.0;
    auto pulse = std::make_shared<vurin::PulseAudioCapture>();
    const auto sources = pulse->listSources();
    if (sources.status != vurin::AudioServerStatus::ok || sources.defaultSourceName.empty()) {
        std::printf(
            "recorder_latency: skipped, no sound server with a default source is reachable (%s);"
            " run it inside scripts/test-session\n",
            sources.reason.empty() ? "no default source" : sources.reason.c_str());
        return 0;
    }
    auto capture = std::make_shared<TimestampingCapture>(pulse);
    auto recorder = vurin::Recorder::create(capture);
    recorder->warmUp(false);
    recorder->waitForBackgroundTasks();
    // One throwaway recording, so the runs below see a connected and running server.
    if (recorder->start(false)) {
        std::this_thread::sleep_for(200ms);
        stopAndWait(*recorder);
    }
    std::printf("recorder_latency: source \"%s\"\n", sources.defaultSourceName.c_str());
    measureStart(*recorder, *capture);
    measureStop(*recorder, *capture, seconds);
    measureStalledServer(*recorder);
    recorder->waitForBackgroundTasks();
    return 0;
}
