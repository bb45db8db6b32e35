#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvix::input {

// A small private file that says what a running poster holds down or has
// locked in the X session, so that the next start can undo what a killed
// run left behind. It names modifier keys only, never the keys typed.
//
// One file per X display, under $XDG_RUNTIME_DIR/orvix/ (or a private
// directory in /tmp when that is unset). Rewritten in place, fixed size.
//
// The record belongs to the one live process that holds the file's lock:
// whoever opens it waits briefly for the lock and, when another process keeps
// it, leaves the file (and the session) alone. The kernel drops the lock with
// its holder, so a killed run's record is free for the next one to clean up.
class InputStateFile {
public:
    struct Record {
        bool active = false;       // a poster was running and had not cleaned up
        std::vector<int> keycodes; // modifier X keycodes held down by it
        int lockRestore = -1;      // Caps Lock to restore: -1 none, 0 off, 1 on
        unsigned locks = 0;        // X modifiers it locked (other than Caps Lock)

        bool operator==(const Record&) const = default;
    };

    static constexpr size_t kSize = 128;
    static constexpr size_t kMaxKeycodes = 16;

    static std::string defaultPath(std::string_view displayName);

    explicit InputStateFile(std::string path);
    ~InputStateFile();
    InputStateFile(const InputStateFile&) = delete;
    InputStateFile& operator=(const InputStateFile&) = delete;

    // Creates the directory and the file with private modes, refusing links
    // and foreign owners, takes its lock and reads what an earlier run left.
    // False (with a log line) when the file cannot be used, or a running
    // process holds it (heldByAnother()); posting still works then.
    bool open(std::chrono::milliseconds lockWait = std::chrono::seconds(2));
    bool heldByAnother() const { return _heldByAnother; }
    const std::optional<Record>& previous() const { return _previous; }

    bool write(const Record& record);
    // A clean end: the file goes away, still under the lock.
    void remove();

    const std::string& path() const { return _path; }

    static std::string format(const Record& record);
    static std::optional<Record> parse(std::string_view text);

private:
    std::string _path;
    int _fd = -1;
    bool _heldByAnother = false;
    std::optional<Record> _previous;
};

} // namespace orvix::input
