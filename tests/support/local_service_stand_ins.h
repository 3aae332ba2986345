#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "local_services/child_process.h"
#include "support/testing.h"

namespace vurin::testing {

// The stand-ins of `whisper-server` and `ollama`.
std::filesystem::path standInProgram(const std::string& name);
// Children of this process, from /proc: live stand-ins, and those that ended unreaped.
std::vector<pid_t> runningStandIns();
std::vector<pid_t> zombieChildren();
// Alive and not a zombie.
bool processAlive(pid_t pid);

// Someone else's server as far as the services can tell; killed and reaped when it goes.
class ForeignStandIn {
  public:
    ForeignStandIn(const std::string& program, std::vector<std::string> arguments);
    ~ForeignStandIn();
    bool isRunning() const { return child_->isRunning(); }

  private:
    std::shared_ptr<ChildProcess> child_;
};

}  // namespace vurin::testing
