#include "support/local_service_stand_ins.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/log.h"

namespace vurin::testing {

namespace {

// The state letter and parent pid of /proc/PID/stat ("pid (comm) S ppid ...").
std::optional<std::pair<char, pid_t>> stateAndParent(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return std::nullopt;
    }
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream rest(text.substr(close + 1));
    char state = '?';
    pid_t parent = 0;
    rest >> state >> parent;
    return std::make_pair(state, parent);
}

std::vector<pid_t> allProcesses() {
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return pids;
}

// Whether the process's environment carries this process's owner mark.
bool startedByThisProcess(pid_t pid) {
    std::ifstream environ("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    const std::string mark = std::string(standInOwnerVariable()) + "=" + std::to_string(::getpid());
    for (std::string entry; std::getline(environ, entry, '\0');) {
        if (entry == mark) {
            return true;
        }
    }
    return false;
}

}  // namespace

const char* standInOwnerVariable() {
    return "VURIN_STAND_IN_OWNER";
}

std::filesystem::path standInFolder() {
    return VURIN_STAND_IN_DIR;
}

std::filesystem::path standInProgram(const std::string& name) {
    return standInFolder() / name;
}

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool processAlive(pid_t pid) {
    const auto state = stateAndParent(pid);
    return state && state->first != 'Z' && state->first != 'X';
}

std::vector<pid_t> runningStandIns() {
    std::vector<pid_t> found;
    const std::string folder = standInFolder().string() + "/";
    for (const pid_t pid : allProcesses()) {
        std::error_code error;
        const auto exe =
            std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
        if (!error && exe.string().rfind(folder, 0) == 0 && processAlive(pid) &&
            startedByThisProcess(pid)) {
            found.push_back(pid);
        }
    }
    return found;
}

std::vector<pid_t> zombieChildren() {
    std::vector<pid_t> found;
    for (const pid_t pid : allProcesses()) {
        const auto state = stateAndParent(pid);
        if (state && state->first == 'Z' && state->second == ::getpid()) {
            found.push_back(pid);
        }
    }
    return found;
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
