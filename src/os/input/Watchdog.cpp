#include "os/input/Watchdog.h"

#include "os/Log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace orvix::input {

namespace {
// The helper's end of the pipe, as it expects it.
constexpr int kHelperPipeFd = 3;
} // namespace

std::unique_ptr<Watchdog> Watchdog::start(const std::string& helperPath,
                                          const std::string& displayName,
                                          const std::string& statePath) {
    int ends[2];
    // Both ends close on exec: no other child of ours may keep the write end
    // open, or the helper would wait for that child too.
    if (pipe2(ends, O_CLOEXEC) != 0) {
        Log::write("Cannot start the input watchdog: %s", strerror(errno));
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto another number clears close-on-exec for the copy.
    posix_spawn_file_actions_adddup2(&actions, ends[0], kHelperPipeFd);
    const std::string parent = std::to_string(getpid());
    const char* argv[] = {helperPath.c_str(), displayName.c_str(), statePath.c_str(),
                          parent.c_str(), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, helperPath.c_str(), &actions, nullptr,
                                  const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[0]);
    if (error != 0) {
        close(ends[1]);
        Log::write("Cannot start the input watchdog %s: %s", helperPath.c_str(), strerror(error));
        return nullptr;
    }
    return std::unique_ptr<Watchdog>(new Watchdog(pid, ends[1]));
}

Watchdog::~Watchdog() {
    close(_pipe);
    // It ends at once when the record is gone; one that does not is left to
    // finish on its own rather than hold up the quit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (waitpid(_pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace orvix::input
