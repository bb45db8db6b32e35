#include "LogCapture.h"

namespace orvix::test {

LogCapture::LogCapture() {
    _previous = Log::setSink([this](std::string_view line) {
        std::lock_guard lock(_mutex);
        _lines.emplace_back(line);
    });
}

LogCapture::~LogCapture() {
    Log::setSink(std::move(_previous));
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(_mutex);
    return _lines;
}

bool LogCapture::contains(const std::string& text) const {
    std::lock_guard lock(_mutex);
    for (const auto& line : _lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

void LogCapture::clear() {
    std::lock_guard lock(_mutex);
    _lines.clear();
}

} // namespace orvix::test
