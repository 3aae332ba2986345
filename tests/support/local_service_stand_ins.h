#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "local_services/child_process.h"
#include "support/testing.h"

namespace vurin::testing {

// The folder holding the stand-in programs `whisper-server` and `ollama`.
std::filesystem::path standInFolder();
std::filesystem::path standInProgram(const std::string& name);

// A loopback port nothing listens on at the moment of the call.
int freeLoopbackPort();

// Live (not zombie) processes running one of the stand-in programs and started from this test
// process (they carry standInOwnerVariable()=this pid in their environment; a demo or another
// test run using the same programs is not counted), from /proc.
std::vector<pid_t> runningStandIns();
// The environment variable, set by the fixtures, that marks stand-ins as this process's.
const char* standInOwnerVariable();
// Children of this process that have ended but were never reaped, from /proc.
std::vector<pid_t> zombieChildren();
// Whether `pid` is alive and not a zombie.
bool processAlive(pid_t pid);

// A stand-in the test starts itself: someone else's server as far as the services can tell.
// Killed (SIGKILL) and reaped when the object goes.
class ForeignStandIn {
  public:
    ForeignStandIn(const std::string& program, std::vector<std::string> arguments);
    ~ForeignStandIn();
    ForeignStandIn(const ForeignStandIn&) = delete;
    ForeignStandIn& operator=(const ForeignStandIn&) = delete;

    bool isRunning() const { return child_->isRunning(); }
    pid_t pid() const { return child_->processIdentifier(); }

  private:
    std::shared_ptr<ChildProcess> child_;
};

}  // namespace vurin::testing
