#include "support/local_service_stand_ins.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace vurin::testing {
namespace {

// The state letter and the parent of "pid (comm) S ppid ..."; 'X' when the process is gone.
std::pair<char, pid_t> stateAndParent(pid_t pid) {
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    std::pair<char, pid_t> found{'X', 0};
    std::istringstream(stat.substr(stat.rfind(')') + 1)) >> found.first >> found.second;
    return found;
}

std::vector<pid_t> childrenWhere(const std::function<bool(pid_t, char)>& wanted) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos) {
            const auto [state, parent] = stateAndParent(std::stoi(name));
            if (parent == ::getpid() && wanted(std::stoi(name), state)) {
                found.push_back(std::stoi(name));
            }
        }
    }
    return found;
}

}  // namespace

std::filesystem::path standInProgram(const std::string& name) {
    return std::filesystem::path(VURIN_STAND_IN_DIR) / name;
}

std::vector<pid_t> runningStandIns() {
    return childrenWhere([](pid_t pid, char state) {
        std::error_code error;
        return state != 'Z' &&
               std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error)
                       .parent_path() == VURIN_STAND_IN_DIR;
    });
}

std::vector<pid_t> zombieChildren() {
    return childrenWhere([](pid_t, char state) { return state == 'Z'; });
}

bool processAlive(pid_t pid) {
    const char state = stateAndParent(pid).first;
    return state != 'Z' && state != 'X';
}

ForeignStandIn::ForeignStandIn(const std::string& program, std::vector<std::string> arguments)
    : child_(ChildProcess::create(standInProgram(program), std::move(arguments))) {
    child_->launch();
}

ForeignStandIn::~ForeignStandIn() {
    if (child_->isRunning()) {
        ::kill(child_->processIdentifier(), SIGKILL);
    }
    child_->waitUntilExit();
}

}  // namespace vurin::testing
