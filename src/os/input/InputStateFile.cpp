#include "os/input/InputStateFile.h"

#include "os/Log.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orvix::input {

namespace {

constexpr std::string_view kMagic = "orvix-input 1";

// A directory we may keep private state in: ours, not a link, mode 0700.
bool ensurePrivateDirectory(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    // Never tighten a folder we did not make: it may be shared (/tmp).
    return (st.st_mode & 0077) == 0;
}

std::string_view nextToken(std::string_view& text) {
    size_t start = text.find_first_not_of(" \t\n");
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    size_t end = text.find_first_of(" \t\n", start);
    std::string_view token = text.substr(start, end == std::string_view::npos ? end : end - start);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end);
    return token;
}

std::optional<int> toInt(std::string_view token) {
    int value = 0;
    auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc{} || ptr != token.data() + token.size())
        return std::nullopt;
    return value;
}

bool lockWithin(int fd, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

std::string InputStateFile::defaultPath(std::string_view displayName) {
    std::string dir;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        dir = std::string(runtime) + "/orvix";
    else
        dir = "/tmp/orvix-" + std::to_string(getuid());
    std::string name = "input-";
    for (char c : displayName)
        name += (isalnum(static_cast<unsigned char>(c)) || c == '.') ? c : '_';
    return dir + "/" + name + ".state";
}

InputStateFile::InputStateFile(std::string path) : _path(std::move(path)) {}

InputStateFile::~InputStateFile() {
    if (_fd >= 0)
        close(_fd);
}

bool InputStateFile::open(std::chrono::milliseconds lockWait) {
    _heldByAnother = false;
    const size_t slash = _path.rfind('/');
    if (slash == std::string::npos || slash == 0 ||
        !ensurePrivateDirectory(_path.substr(0, slash))) {
        Log::write("Cannot use the directory of input state file %s", _path.c_str());
        return false;
    }
    // A holder that removes the file while we wait for its lock leaves us the
    // lock of a file nobody will find: open the one at the path again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        _fd = ::open(_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        struct stat st {};
        if (_fd < 0 || fstat(_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
            Log::write("Cannot open input state file %s: %s", _path.c_str(),
                       _fd < 0 ? strerror(errno) : "not a private file");
            if (_fd >= 0)
                close(_fd);
            _fd = -1;
            return false;
        }
        if (!lockWithin(_fd, lockWait)) {
            Log::write("Input state file %s belongs to a running process; leaving it alone",
                       _path.c_str());
            close(_fd);
            _fd = -1;
            _heldByAnother = true;
            return false;
        }
        struct stat now {};
        if (stat(_path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
            break;
        close(_fd);
        _fd = -1;
    }
    if (_fd < 0) {
        Log::write("Cannot open input state file %s: it keeps being replaced", _path.c_str());
        return false;
    }
    fchmod(_fd, 0600);

    char buffer[kSize * 2];
    const ssize_t got = pread(_fd, buffer, sizeof buffer, 0);
    if (got > 0) {
        _previous = parse(std::string_view(buffer, static_cast<size_t>(got)));
        if (!_previous)
            Log::write("Ignoring unreadable input state file %s", _path.c_str());
    }
    return true;
}

bool InputStateFile::write(const Record& record) {
    if (_fd < 0)
        return false;
    const std::string text = format(record);
    return pwrite(_fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

void InputStateFile::remove() {
    if (_fd < 0)
        return;
    // Unlinked before the lock goes, so a waiting opener sees the file gone.
    unlink(_path.c_str());
    close(_fd);
    _fd = -1;
}

std::string InputStateFile::format(const Record& record) {
    char buffer[kSize + 1];
    int length = snprintf(buffer, sizeof buffer, "%.*s\nactive %d\nlock %d\nlocks %u\nkeys",
                          static_cast<int>(kMagic.size()), kMagic.data(), record.active ? 1 : 0,
                          record.lockRestore, record.locks & 0xFF);
    size_t count = 0;
    for (int keycode : record.keycodes) {
        // Only X keycodes are written, so the fixed size always holds them.
        if (keycode < 8 || keycode > 255)
            continue;
        if (++count > kMaxKeycodes || length + 4 >= static_cast<int>(sizeof buffer))
            break;
        length +=
            snprintf(buffer + length, sizeof buffer - static_cast<size_t>(length), " %d", keycode);
    }
    std::string text(buffer, static_cast<size_t>(length));
    text += '\n';
    // Fixed size, so an in-place rewrite never leaves a longer old tail.
    text.resize(kSize, ' ');
    text.back() = '\n';
    return text;
}

std::optional<InputStateFile::Record> InputStateFile::parse(std::string_view text) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos || text.substr(0, end) != kMagic)
        return std::nullopt;
    text.remove_prefix(end + 1);

    Record record;
    bool sawActive = false;
    std::string_view token;
    while (!(token = nextToken(text)).empty()) {
        if (token == "active") {
            auto value = toInt(nextToken(text));
            if (!value || (*value != 0 && *value != 1))
                return std::nullopt;
            record.active = *value == 1;
            sawActive = true;
        } else if (token == "lock") {
            auto value = toInt(nextToken(text));
            if (!value || *value < -1 || *value > 1)
                return std::nullopt;
            record.lockRestore = *value;
        } else if (token == "locks") {
            auto value = toInt(nextToken(text));
            if (!value || *value < 0 || *value > 0xFF)
                return std::nullopt;
            record.locks = static_cast<unsigned>(*value);
        } else if (token == "keys") {
            // The key list runs to the end of its line.
            const size_t lineEnd = text.find('\n');
            std::string_view line = text.substr(0, lineEnd);
            text = lineEnd == std::string_view::npos ? std::string_view{} : text.substr(lineEnd);
            std::string_view item;
            while (!(item = nextToken(line)).empty()) {
                auto value = toInt(item);
                if (!value || *value < 8 || *value > 255 || record.keycodes.size() >= kMaxKeycodes)
                    return std::nullopt;
                record.keycodes.push_back(*value);
            }
        } else {
            return std::nullopt;
        }
    }
    if (!sawActive)
        return std::nullopt;
    return record;
}

} // namespace orvix::input
