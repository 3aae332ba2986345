// What the whole application costs while it waits for the trigger: CPU time over an idle
// minute (the grab active, nothing pressed) and resident memory. Run it inside
// scripts/test-session (or any X11 session); the first argument changes the idle seconds.
// Starts the real executable with a throw-away configuration. Prints the figures; never fails.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// utime + stime of a process, in seconds.
std::optional<double> cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return std::nullopt;
    }
    // Fields after the command name, which may contain spaces: state is field 3.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) {
        fields.push_back(field);
    }
    if (fields.size() < 13) {
        return std::nullopt;
    }
    const double ticks = std::stod(fields[11]) + std::stod(fields[12]);  // utime, stime
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "Vm..." line of /proc/PID/status, in MiB.
std::optional<double> memoryMiB(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stod(line.substr(key.size() + 1)) / 1024.0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 60.0;
    const fs::path home =
        fs::temp_directory_path() / ("vurin-idle-bench-" + std::to_string(getpid()));
    fs::create_directories(home / "config");
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string logPath = (home / "vurin.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char* const arguments[] = {const_cast<char*>(VURIN_EXECUTABLE), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, VURIN_EXECUTABLE, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::printf("idle_app: could not start %s\n", VURIN_EXECUTABLE);
        return 0;
    }
    // Start-up work (configuration, grab, tray, sound server) is not idle time.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const auto before = cpuSeconds(pid);
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    const auto after = cpuSeconds(pid);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto rss = memoryMiB(pid, "VmRSS");
    const auto peak = memoryMiB(pid, "VmHWM");
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);

    std::printf("idle application (%s, %.0f s idle):\n", VURIN_EXECUTABLE, elapsed);
    if (before && after) {
        std::printf("  CPU time while idle       %.3f s (%.3f%% of one core)\n", *after - *before,
                    100.0 * (*after - *before) / elapsed);
    } else {
        std::printf("  CPU time while idle       not readable (did it exit? log: %s)\n",
                    logPath.c_str());
    }
    if (rss && peak) {
        std::printf("  resident memory           %.1f MiB (peak %.1f MiB)\n", *rss, *peak);
    }
    std::printf("  exit after SIGTERM        %s\n",
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "clean (0)" : "not clean");
    fs::remove_all(home);
    return 0;
}
