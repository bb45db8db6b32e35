#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

namespace orvix::input {

// A small helper process that outlives the keyboard by moments only. It waits
// on the read end of a pipe whose write end only this process holds; when
// this process dies, however it dies (kill -9 included), the pipe reaches end
// of file and the helper lets go of every key and lock the input state record
// names, then ends. It learns nothing but that record: no key content.
//
// Started with posix_spawn, so starting it is safe with threads running.
class Watchdog {
public:
    // Starts the helper; null (with a log line) when it cannot be started.
    static std::unique_ptr<Watchdog> start(const std::string& helperPath,
                                           const std::string& displayName,
                                           const std::string& statePath);
    // A clean end: closes the pipe (the helper then finds no record and
    // ends) and reaps the helper.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    pid_t pid() const { return _pid; }

private:
    Watchdog(pid_t pid, int pipe) : _pid(pid), _pipe(pipe) {}

    pid_t _pid;
    int _pipe;
};

} // namespace orvix::input
