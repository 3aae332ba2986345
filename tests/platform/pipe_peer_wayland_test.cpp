// The reader of the clipboard's pipe on Wayland is found whether or not it is the process looked at
// first.
#include "platform/linux/pipe_peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace vurin {
namespace {

// A process that sleeps with `fd` (or nothing) as its standard input, ended when this goes.
class Sleeper {
  public:
    explicit Sleeper(int fd = -1) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (fd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, fd, 0);
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        char sleep[] = "sleep";
        char seconds[] = "60";
        char* arguments[] = {sleep, seconds, nullptr};
        if (posix_spawnp(&pid_, "sleep", &actions, nullptr, arguments, environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Sleeper() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

TEST(PipePeerTest, TheHolderOfTheOtherEndIsFoundWhereverTheSearchBegins) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const Sleeper reader(ends[0]);
    const Sleeper bystander;
    ASSERT_GT(reader.pid(), 0);
    ASSERT_GT(bystander.pid(), 0);
    close(ends[0]);
    const struct {
        const char* name;
        std::initializer_list<int> likely;
    } rows[] = {{"the reader itself", {reader.pid()}},
                {"another process, then the reader", {bystander.pid(), reader.pid()}},
                {"another process", {bystander.pid()}},
                {"nobody named", {0, 0}},
                {"this process", {getpid()}},
                {"a process that does not exist", {0x3fffffff}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(pipePeerProcess(ends[1], row.likely), reader.pid());
    }
    close(ends[1]);
}

TEST(PipePeerTest, NoOtherHolderOrNoPipeGivesNobody) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    EXPECT_EQ(pipePeerProcess(ends[1], {getpid()}), 0);  // only this process holds it
    close(ends[0]);
    close(ends[1]);
    const int file = open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(pipePeerProcess(file), 0);
    close(file);
}

}  // namespace
}  // namespace vurin
