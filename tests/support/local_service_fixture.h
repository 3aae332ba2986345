#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "local_services/local_service.h"
#include "support/local_service_stand_ins.h"
#include "support/virtual_main_queue.h"

namespace vurin::testing {

// What a supervised service's tests share, whatever the service: a private folder with the
// stand-ins' start log, stand-ins marked as this process's, the log captured, a free port and
// the virtual main queue. Afterwards no stand-in may still run and no child be left unreaped.
class LocalServiceFixtureBase : public ::testing::Test {
  protected:
    // `program` is the stand-in the service runs; it also names the folder.
    explicit LocalServiceFixtureBase(std::string program) : standInName(std::move(program)) {}

    void SetUp() override;
    void TearDown() override;

    LocalService::Callback countReady() {
        return [this] { ++readyCalls; };
    }
    // onReady is posted just after the state turns ready; delivers it on the "main thread".
    bool readyCallsReach(int expected);

    // Wait a few seconds at most until no stand-in of this process runs, or until no child of
    // it is left unreaped.
    static bool standInsEnd();
    static bool childrenReaped();

    // The JSON records a stand-in appended to `file`, one a line.
    static std::vector<nlohmann::json> records(const std::filesystem::path& file);
    // The stand-ins started so far, in order.
    std::vector<nlohmann::json> starts() const { return records(startLog); }

    const std::string standInName;
    ScopedEnvironment environment;
    LogCapture logs;
    const int port = freeLoopbackPort();
    std::filesystem::path folder;
    std::filesystem::path startLog;
    std::shared_ptr<VirtualMainQueue> mainQueue = std::make_shared<VirtualMainQueue>();
    int readyCalls = 0;
};

// The service under test, made with `Service::create(mainQueue, Options)` and pointed at its
// stand-in on the test's port with a short poll.
template <typename Service, typename Options>
class LocalServiceFixture : public LocalServiceFixtureBase {
  protected:
    using LocalServiceFixtureBase::LocalServiceFixtureBase;

    void TearDown() override {
        dispose();
        LocalServiceFixtureBase::TearDown();
    }

    virtual Options options() {
        Options chosen;
        chosen.port = port;
        chosen.poll = {0.05, 100};
        chosen.findExecutable = [name = standInName] { return standInProgram(name); };
        return chosen;
    }

    void create() { create(options()); }
    void create(Options chosen) {
        dispose();
        server = Service::create(mainQueue, std::move(chosen));
    }

    // Stops and drops the service. A background step may still hold it; its destruction waits
    // for them all, so nothing of it outlives the test.
    void dispose() {
        if (!server) {
            return;
        }
        server->stop();
        std::weak_ptr<Service> last = server;
        server.reset();
        EXPECT_TRUE(eventually([&] { return last.expired(); }, std::chrono::milliseconds(10000)));
    }

    std::shared_ptr<Service> server;
};

}  // namespace vurin::testing
