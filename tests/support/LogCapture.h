#pragma once

#include "os/Log.h"

#include <mutex>
#include <string>
#include <vector>

namespace orvix::test {

// Captures the lines of the log facility for the lifetime of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(const std::string& text) const;
    void clear();

private:
    mutable std::mutex _mutex;
    std::vector<std::string> _lines;
    Log::Sink _previous;
};

} // namespace orvix::test
