#pragma once
// The stand-ins of `whisper-server` and `ollama`, and this process's children as /proc shows them.

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/testing.h"  // with <filesystem>, <functional>, <string> and <vector>

namespace vurin::testing {

inline std::filesystem::path standInProgram(const std::string& name) {
    return std::filesystem::path(VURIN_STAND_IN_DIR) / name;
}

// The state letter of "pid (comm) S ppid ..." and the parent; 'X' when the process is gone.
inline std::pair<char, pid_t> stateAndParent(pid_t pid) {
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    std::pair<char, pid_t> found{'X', 0};
    std::istringstream(stat.substr(stat.rfind(')') + 1)) >> found.first >> found.second;
    return found;
}

inline bool processAlive(pid_t pid) {
    const char state = stateAndParent(pid).first;
    return state != 'Z' && state != 'X';
}

// Children of this process whose state and /proc/PID/exe `wanted` accepts.
inline std::vector<pid_t> children(const std::function<bool(char, const std::string&)>& wanted) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const auto [state, parent] = stateAndParent(std::stoi(name));
        std::error_code error;
        const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
        if (parent == ::getpid() && wanted(state, exe.parent_path().string())) {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}
inline std::vector<pid_t> runningStandIns() {
    return children([](char state, const std::string& folder) {
        return state != 'Z' && folder == VURIN_STAND_IN_DIR;
    });
}
inline std::vector<pid_t> zombieChildren() {
    return children([](char state, const std::string&) { return state == 'Z'; });
}

}  // namespace vurin::testing
