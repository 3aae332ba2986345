// What the dictation pipeline itself adds to a job: a 10 s recording through local speech-to-text
// and local polish against loopback stand-ins that answer at once, timed from `run` entry to the
// moment the `inject` block is posted to the main queue. The stand-ins note when each request
// arrives, which splits the time into stages. Prints the figures; never fails.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/private_file.h"
#include "pipeline/dictation_pipeline.h"
#include "providers/local_endpoints.h"
#include "providers/multipart_body.h"
#include "providers/request_parts.h"
#include "support/stand_in_http_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using vurin::testing::StandInHttpServer;

constexpr int kRuns = 30;

// Records when blocks are posted; runs nothing (the bench has no main thread).
class TimingQueue : public vurin::MainQueue {
  public:
    bool isMainThread() const override { return false; }
    double now() const override {
        return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    }
    Clock::time_point lastPost() const {
        return Clock::time_point(Clock::duration(posted_.load()));
    }

  protected:
    void enqueue(std::function<void()>) override {
        posted_.store(Clock::now().time_since_epoch().count());
    }
    void postDelayed(double, std::function<void()>) override {}

  private:
    std::atomic<Clock::rep> posted_{0};
};

std::filesystem::path writeTenSecondWav() {
    const auto file = std::filesystem::temp_directory_path() / "vurin-bench-10s.wav";
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sound = sf_open(file.c_str(), SFM_WRITE, &info);
    std::vector<short> samples(16000 * 10);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<short>(8000 * std::sin(2 * M_PI * 440.0 * double(i) / 16000.0));
    }
    sf_write_short(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(sound);
    return file;
}

double ms(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

struct Stamps {
    std::mutex lock;
    Clock::time_point whisperArrived;
    Clock::time_point ollamaArrived;
};

struct Sample {
    double total, toWhisper, whisperToOllama, ollamaToInject, runReturn;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    // The runs write history lines: keep them out of the user's configuration folder.
    const auto scratch =
        std::filesystem::temp_directory_path() / ("vurin-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    const auto audio = writeTenSecondWav();
    const auto wavBytes = std::filesystem::file_size(audio);
    Stamps stamps;
    StandInHttpServer whisper;
    whisper.route("/inference", [&](const httplib::Request&, httplib::Response& response) {
        std::lock_guard guard(stamps.lock);
        stamps.whisperArrived = Clock::now();
        response.set_content("嗯 那个 帮我把登录函数加个错误处理", "text/plain");
    });
    StandInHttpServer ollama;
    ollama.route("/api/generate", [&](const httplib::Request&, httplib::Response& response) {
        {
            std::lock_guard guard(stamps.lock);
            stamps.ollamaArrived = Clock::now();
        }
        response.set_content(
            R"({"response":"帮我给登录函数加个错误处理。","total_duration":640000000,"eval_count":12})",
            "application/json");
    });
    vurin::overrideLocalPortsForTesting(whisper.port(), ollama.port());

    auto queue = std::make_shared<TimingQueue>();
    vurin::DictationPipeline pipeline(queue);
    vurin::Config config;
    config.saveTextHistory = false;
    vurin::DictationHooks hooks;
    hooks.isCurrent = [](std::int64_t) { return true; };
    hooks.isLocalSTTReady = [] { return true; };
    hooks.isLocalPolishReady = [] { return true; };

    // The pipeline logs to standard output; keep the figures readable.
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);

    std::vector<Sample> samples;
    for (int run = 0; run < kRuns + 3; ++run) {  // the first three warm up
        vurin::DictationJob job{audio, 10.0, 1, vurin::PipelineConfigSnapshot(config),
                                std::make_shared<vurin::PipelineCancellation>()};
        const auto started = Clock::now();
        pipeline.run(job, hooks);
        const auto returned = Clock::now();
        const auto injected = queue->lastPost();
        std::lock_guard guard(stamps.lock);
        if (run >= 3) {
            samples.push_back({ms(injected - started), ms(stamps.whisperArrived - started),
                               ms(stamps.ollamaArrived - stamps.whisperArrived),
                               ms(injected - stamps.ollamaArrived), ms(returned - started)});
        }
    }

    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);

    // The client's own share of the first stage: reading the file and framing the upload.
    std::vector<double> building;
    for (int run = 0; run < kRuns; ++run) {
        const auto started = Clock::now();
        const auto bytes = vurin::readWholeFile(audio);
        const std::string body = vurin::multipartBody(vurin::multipartBoundary(), *bytes,
                                                      "audio.wav", "audio/wav", {{"a", "b"}});
        building.push_back(ms(Clock::now() - started) + 0.0 * double(body.size()));
    }
    vurin::overrideLocalPortsForTesting(0, 0);
    std::filesystem::remove(audio);
    std::filesystem::remove_all(scratch);

    auto column = [&](double Sample::*field) {
        std::vector<double> values;
        for (const auto& sample : samples)
            values.push_back(sample.*field);
        return values;
    };
    const auto totals = column(&Sample::total);
    std::printf(
        "pipeline_overhead: 10 s 16 kHz WAV (%zu KiB), local STT + local polish, instant "
        "stand-ins, %d runs\n",
        static_cast<std::size_t>(wavBytes / 1024), kRuns);
    std::printf("  run entry -> inject posted: median %.3f ms   min %.3f ms   max %.3f ms\n",
                median(totals), *std::min_element(totals.begin(), totals.end()),
                *std::max_element(totals.begin(), totals.end()));
    std::printf(
        "  breakdown (medians): entry -> whisper request arrived (upload read by the stand-in) "
        "%.3f ms\n",
        median(column(&Sample::toWhisper)));
    std::printf(
        "                         of which reading the WAV and framing the upload %.3f ms\n",
        median(building));
    std::printf("                       whisper arrived -> ollama request arrived %.3f ms\n",
                median(column(&Sample::whisperToOllama)));
    std::printf("                       ollama arrived -> inject posted %.3f ms\n",
                median(column(&Sample::ollamaToInject)));
    std::printf("  run entry -> run returned (history line included): median %.3f ms\n",
                median(column(&Sample::runReturn)));
    return 0;
}
