// Installs the crash handler and crashes: platform_crash_child FOLDER segv|abort|overflow
#include "platform/CrashReporter.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

volatile int gDepthLimit = 1 << 30; // never reached; keeps the recursion finite to the compiler

[[gnu::noinline]] int recurse(int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (depth > gDepthLimit)
        return pad[0];
    return recurse(depth + 1) + pad[0];
}

// A real invalid access, not one the undefined-behaviour checker stops first.
[[gnu::noinline, gnu::no_sanitize("undefined")]] void crashNow(const char* how) {
    if (std::string_view(how) == "abort")
        std::abort();
    if (std::string_view(how) == "overflow")
        std::printf("%d\n", recurse(0));
    volatile int* nowhere = nullptr;
    *nowhere = 42;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    if (!orvix::CrashReporter::install(QString::fromLocal8Bit(argv[1])))
        return 3;
    // Typed text must never reach a report; it sits in memory here.
    volatile char typed[] = "SECRET-TYPED-TEXT";
    (void)typed;
    crashNow(argv[2]);
    return 0;
}
