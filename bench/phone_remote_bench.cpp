// The phone remote over loopback, through the real server, press guard and gesture engine:
//   1. a press request to GestureEngine::keyDown() on the main thread (median; goal < 2 ms),
//   2. 1,000 press/release pairs back to back (throughput),
//   3. resident memory before and after 10,000 connections that send garbage (goal: growth
//      < 1 MiB).
// Prints the figures; never fails.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "input/gesture_engine.h"
#include "phone/phone_remote_controller.h"
#include "phone/phone_trigger_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";

// A main queue with a thread of its own, as the application's event loop would be: blocks run
// there in due order, and a post wakes it at once.
class ThreadMainQueue : public vurin::MainQueue {
  public:
    ThreadMainQueue() : thread_([this] { run(); }) {}
    ~ThreadMainQueue() override {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    bool isMainThread() const override { return std::this_thread::get_id() == thread_.get_id(); }
    double now() const override {
        return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    }

  protected:
    void enqueue(std::function<void()> block) override { postDelayed(0, std::move(block)); }
    void postDelayed(double seconds, std::function<void()> block) override {
        const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(seconds));
        {
            std::lock_guard guard(lock_);
            blocks_.emplace(std::make_pair(due, sequence_++), std::move(block));
        }
        wake_.notify_one();
    }

  private:
    void run() {
        std::unique_lock guard(lock_);
        while (!stopping_) {
            if (blocks_.empty()) {
                wake_.wait(guard);
                continue;
            }
            const auto first = blocks_.begin();
            if (first->first.first > Clock::now()) {
                wake_.wait_until(guard, first->first.first);
                continue;
            }
            auto block = std::move(first->second);
            blocks_.erase(first);
            guard.unlock();
            block();
            guard.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::multimap<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> blocks_;
    std::uint64_t sequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

// Counts the gesture engine's key-downs and key-ups as the main thread makes them, with the
// time of the latest key-down.
class KeyCounter {
  public:
    void down() {
        {
            std::lock_guard guard(lock_);
            ++downs_;
            lastDown_ = Clock::now();
        }
        changed_.notify_all();
    }
    void up() {
        {
            std::lock_guard guard(lock_);
            ++ups_;
        }
        changed_.notify_all();
    }
    // The time of key-down number `count`, or nothing when it did not come within `timeout`.
    std::optional<Clock::time_point> waitForDowns(int count, std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        if (!changed_.wait_for(guard, timeout, [&] { return downs_ >= count; })) {
            return std::nullopt;
        }
        return lastDown_;
    }
    bool waitForUps(int count, std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return ups_ >= count; });
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int downs_ = 0;
    int ups_ = 0;
    Clock::time_point lastDown_;
};

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{.tv_sec = 5, .tv_usec = 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(port)};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// One request on its own connection, as the page sends it; true when answered 200.
bool request(std::uint16_t port, std::string_view path) {
    const int fd = connectTo(port);
    if (fd < 0) {
        return false;
    }
    std::string head = "POST ";
    head.append(path).append("?t=").append(kToken).append(
        " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
    std::string answer;
    if (sendAll(fd, head)) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return answer.starts_with("HTTP/1.1 200 OK\r\n");
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

double percentile(const std::vector<double>& sorted, double fraction) {
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void pressLatency(std::uint16_t port, KeyCounter& keys, int& downs, int& ups) {
    constexpr int kRuns = 200;
    std::vector<double> latencies;
    int failed = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto sentAt = Clock::now();
        const bool answered = request(port, "/e/down");
        const auto keyDownAt = keys.waitForDowns(downs + 1, 5s);
        if (answered && keyDownAt) {
            ++downs;
            latencies.push_back(millisecondsBetween(sentAt, *keyDownAt));
        } else {
            ++failed;
        }
        if (request(port, "/e/up") && keys.waitForUps(ups + 1, 5s)) {
            ++ups;
        }
    }
    if (latencies.empty()) {
        std::printf("press latency: no run completed (%d failed)\n", failed);
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "press latency: connect + POST /e/down -> GestureEngine::keyDown() on the main thread, "
        "%zu runs (%d failed)\n",
        latencies.size(), failed);
    std::printf(
        "  median %.3f ms   p90 %.3f ms   min %.3f ms   max %.3f ms   (goal: median < 2 ms)\n",
        percentile(latencies, 0.5), percentile(latencies, 0.9), latencies.front(),
        latencies.back());
}

void pressReleaseThroughput(std::uint16_t port, KeyCounter& keys, int& downs, int& ups) {
    constexpr int kPairs = 1000;
    int answered = 0;
    const auto began = Clock::now();
    for (int pair = 0; pair < kPairs; ++pair) {
        answered += request(port, "/e/down") ? 1 : 0;
        answered += request(port, "/e/up") ? 1 : 0;
    }
    const auto requestsDone = Clock::now();
    const bool allDowns = keys.waitForDowns(downs + kPairs, 10s).has_value();
    const bool allUps = keys.waitForUps(ups + kPairs, 10s);
    const auto keysDone = Clock::now();
    downs += allDowns ? kPairs : 0;
    ups += allUps ? kPairs : 0;
    const double seconds = std::chrono::duration<double>(keysDone - began).count();
    std::printf("press/release pairs: %d pairs back to back, one connection per request\n", kPairs);
    std::printf(
        "  %d of %d requests answered 200; every key-down and key-up reached the engine: %s\n",
        answered, 2 * kPairs, allDowns && allUps ? "yes" : "NO");
    std::printf("  %.3f s in all (requests %.3f s)   %.0f pairs/s   %.3f ms per pair\n", seconds,
                std::chrono::duration<double>(requestsDone - began).count(), kPairs / seconds,
                1000.0 * seconds / kPairs);
}

// Ten thousand clients that send junk: binary noise that ends the head, binary noise that does
// not and hangs up, printable nonsense that is routed (and refused), and now and then more than
// the head limit.
void garbageConnections(std::uint16_t port) {
    constexpr int kConnections = 10000;
    std::mt19937 random(8930);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto noise = [&](std::size_t size) {
        std::string bytes(size, '\0');
        for (auto& c : bytes) {
            c = static_cast<char>(byte(random));
        }
        return bytes;
    };
    const auto exchange = [&](int kind) {
        const int fd = connectTo(port);
        if (fd < 0) {
            return false;
        }
        std::string bytes;
        switch (kind) {
            case 0:
                bytes = noise(600) + "\r\n\r\n" + noise(200);
                break;
            case 1:
                bytes = noise(900);
                break;
            case 2:
                bytes = "BREW /coffee?t=" + std::to_string(random()) + " HTCPCP/1.0\r\n\r\n";
                break;
            default:
                bytes = noise(70 * 1024);
                break;
        }
        sendAll(fd, bytes);
        ::shutdown(fd, SHUT_WR);
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
        return true;
    };
    // Warm up: the first connections grow the allocator's pools once and for all.
    for (int i = 0; i < 200; ++i) {
        exchange(i % 3);
    }
    std::this_thread::sleep_for(1500ms);
    const long before = residentKiB();
    int failed = 0;
    const auto began = Clock::now();
    for (int i = 0; i < kConnections; ++i) {
        failed += exchange(i % 100 == 99 ? 3 : i % 3) ? 0 : 1;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    // Answered connections linger for at most a second before they are closed.
    std::this_thread::sleep_for(1500ms);
    const long after = residentKiB();
    std::printf(
        "garbage connections: %d in %.2f s (%d could not connect); binary heads, "
        "unterminated noise, unroutable lines, 1 in 100 over 64 KiB\n",
        kConnections, seconds, failed);
    std::printf(
        "  resident memory before %ld KiB, after %ld KiB: growth %+ld KiB   (goal: < 1024 KiB)\n",
        before, after, after - before);
}

}  // namespace

int main() {
    // Declared first, so they outlive everything that may still call the hooks.
    KeyCounter keys;
    vurin::Config config;
    auto queue = std::make_shared<ThreadMainQueue>();
    auto server = std::make_shared<vurin::PhoneTriggerServer>(queue, 0);
    auto engine = vurin::GestureEngine::create(queue);
    auto controller = vurin::PhoneRemoteController::create(queue, server);
    config.phoneTriggerEnabled = true;
    config.phoneToken = std::string(kToken);
    controller->attach({
        .config = [&config] { return &config; },
        .saveConfig = [](const vurin::Config&) {},
        .keyDown =
            [&](double at) {
                engine->keyDown(at);
                keys.down();
            },
        .keyUp =
            [&](double at) {
                engine->keyUp(at);
                keys.up();
            },
        .rebuildMenu = [] {},
        .activateApplication = [] {},
    });
    queue->post([controller] { controller->startIfEnabled(); });
    for (int i = 0; i < 500 && server->boundPort() == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    const std::uint16_t port = server->boundPort();
    if (port == 0) {
        std::printf("phone_remote: the server did not start\n");
        return 0;
    }

    int downs = 0;
    int ups = 0;
    pressLatency(port, keys, downs, ups);
    pressReleaseThroughput(port, keys, downs, ups);
    garbageConnections(port);

    queue->post([controller] { controller->stop(); });
    std::this_thread::sleep_for(100ms);
    return 0;
}
