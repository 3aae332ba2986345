#include "support/local_service_fixture.h"

#include <unistd.h>

namespace vurin::testing {

void LocalServiceFixtureBase::SetUp() {
    folder = std::filesystem::temp_directory_path() /
             (standInName + "-" + std::to_string(::getpid()) + "-" + std::to_string(port));
    std::filesystem::create_directories(folder);
    startLog = folder / "starts.jsonl";
    environment.set("VURIN_STAND_IN_START_LOG", startLog.string());
    environment.set(standInOwnerVariable(), std::to_string(::getpid()));
}

void LocalServiceFixtureBase::TearDown() {
    EXPECT_TRUE(standInsEnd()) << "a stand-in is still running";
    EXPECT_TRUE(childrenReaped()) << "a child was not reaped";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

bool LocalServiceFixtureBase::standInsEnd() {
    return eventually([] { return runningStandIns().empty(); });
}

bool LocalServiceFixtureBase::childrenReaped() {
    return eventually([] { return zombieChildren().empty(); });
}

bool LocalServiceFixtureBase::readyCallsReach(int expected) {
    return eventually([&] {
        mainQueue->runPending();
        return readyCalls == expected;
    });
}

std::vector<nlohmann::json> LocalServiceFixtureBase::records(const std::filesystem::path& file) {
    std::vector<nlohmann::json> parsed;
    for (const auto& line : readLines(file)) {
        parsed.push_back(nlohmann::json::parse(line));
    }
    return parsed;
}

}  // namespace vurin::testing
