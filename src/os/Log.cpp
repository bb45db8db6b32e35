#include "os/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace orvix {
namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

Log::Sink& sink() {
    static Log::Sink s;
    return s;
}

void emitLine(char* line, int length) {
    // One line means one line: embedded newlines would let a caller forge entries.
    for (int i = 0; i < length; ++i) {
        if (line[i] == '\n' || line[i] == '\r')
            line[i] = ' ';
    }
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(std::string_view(line, static_cast<size_t>(length)));
        return;
    }
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("orvix", LOG_PID, LOG_USER); });
    syslog(LOG_NOTICE, "%s", line);
    line[length] = '\n';
    ssize_t ignored = ::write(STDERR_FILENO, line, static_cast<size_t>(length) + 1);
    (void)ignored;
}

} // namespace

void Log::write(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    int length = std::min<int>(n, static_cast<int>(sizeof buffer) - 2);
    emitLine(buffer, length);
}

Log::Sink Log::setSink(Sink newSink) {
    std::lock_guard lock(sinkMutex());
    Sink old = std::move(sink());
    sink() = std::move(newSink);
    return old;
}

} // namespace orvix
