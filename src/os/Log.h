#pragma once

#include <functional>
#include <string_view>

namespace orvix {

// The program's one log facility: every diagnostic is a single printf-style
// line that goes to the system log (the journal, through syslog) and to
// standard error. Never pass key content to it.
class Log {
public:
    using Sink = std::function<void(std::string_view line)>;

    static void write(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Tests capture the lines here; the system log and standard error are
    // skipped while a sink is set. Returns the previous sink.
    static Sink setSink(Sink sink);

    // Routes Qt's own warnings into the same facility, one line each.
    static void installQtMessageHandler();
};

} // namespace orvix
