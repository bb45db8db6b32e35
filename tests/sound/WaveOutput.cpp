#include "WaveOutput.h"

#include "SoundTestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTest>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvix::test {
namespace {

struct WaveConfig {
    QString output;
    QByteArray configPath;

    WaveConfig() {
        output = QDir(scratchDir()).filePath(QStringLiteral("mixed.wav"));
        configPath = QFile::encodeName(scratchDir()) + "/alsoft-XXXXXX";
        const int fd = mkstemp(configPath.data());
        if (fd < 0)
            return;
        const QByteArray text = "[general]\ndrivers = wave\nfrequency = 48000\n"
                                "channels = stereo\nsample-type = float32\n"
                                "period_size = 240\nperiods = 2\n[wave]\nfile = " +
                                QFile::encodeName(output) + "\n";
        const bool written = ::write(fd, text.constData(), static_cast<size_t>(text.size())) ==
                             static_cast<ssize_t>(text.size());
        ::close(fd);
        if (!written)
            return;
        // The library reads both when the first device opens.
        qputenv("ALSOFT_CONF", configPath);
        qputenv("ALSOFT_DRIVERS", "wave");
    }
};

WaveConfig& config() {
    static WaveConfig c;
    return c;
}

[[maybe_unused]] const bool g_configured = (config(), true);

bool fileState(timespec& mtime, off_t& size) {
    struct stat st {};
    if (::stat(QFile::encodeName(config().output).constData(), &st) != 0)
        return false;
    mtime = st.st_mtim;
    size = st.st_size;
    return true;
}

} // namespace

QString waveOutputPath() {
    return config().output;
}

bool waitForFirstOutput(int timeoutMs) {
    return QTest::qWaitFor(
        [] {
            timespec mtime{};
            off_t size = 0;
            // Past the header, and past the 8 bytes a wipe keeps.
            return fileState(mtime, size) && size > 68;
        },
        timeoutMs);
}

bool outputAdvances(int windowMs) {
    timespec before{}, after{};
    off_t sizeBefore = 0, sizeAfter = 0;
    if (!fileState(before, sizeBefore))
        return false;
    QTest::qWait(windowMs);
    if (!fileState(after, sizeAfter))
        return false;
    return sizeAfter != sizeBefore || after.tv_sec != before.tv_sec ||
           after.tv_nsec != before.tv_nsec;
}

bool wipeOutput() {
    const int fd = ::open(QFile::encodeName(config().output).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && st.st_size > 8;
    if (ok) {
        const std::vector<char> marker(static_cast<size_t>(st.st_size - 8), '\xff');
        ok = ::pwrite(fd, marker.data(), marker.size(), 8) == static_cast<ssize_t>(marker.size());
    }
    ::close(fd);
    return ok;
}

Heard heardSinceWipe(float threshold) {
    Heard heard;
    QFile file(config().output);
    if (!file.open(QIODevice::ReadOnly))
        return heard;
    const QByteArray bytes = file.readAll();
    // Frames start at byte 8 (written again from the top) or at 68 (after
    // the header); both are 4-byte aligned, so every float is read whole.
    heard.quietest = INFINITY;
    for (qsizetype at = 8; at + 4 <= bytes.size(); at += 4) {
        float sample = 0;
        std::memcpy(&sample, bytes.constData() + at, sizeof sample);
        if (!std::isfinite(sample) || std::fabs(sample) <= threshold)
            continue;
        if (heard.samples++ == 0)
            heard.first = sample;
        heard.quietest = std::min(heard.quietest, std::fabs(sample));
        heard.loudest = std::max(heard.loudest, std::fabs(sample));
    }
    if (heard.samples == 0)
        heard.quietest = 0;
    return heard;
}

} // namespace orvix::test
