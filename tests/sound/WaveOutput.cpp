#include "WaveOutput.h"

#include "SoundTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cmath>
#include <cstring>

namespace orvix::test {
namespace {

struct WaveConfig {
    QString output;

    WaveConfig() {
        // The scratch folder is private to this program, so fixed names are safe.
        output = QDir(scratchDir()).filePath(QStringLiteral("mixed.wav"));
        const QString conf = QDir(scratchDir()).filePath(QStringLiteral("alsoft.conf"));
        const QByteArray text = "[general]\ndrivers = wave\nfrequency = 48000\n"
                                "channels = stereo\nsample-type = float32\n"
                                "period_size = 240\nperiods = 2\n[wave]\nfile = " +
                                QFile::encodeName(output) + "\n";
        if (!writeFile(conf, text))
            return;
        // The library reads both when the first device opens.
        qputenv("ALSOFT_CONF", QFile::encodeName(conf));
        qputenv("ALSOFT_DRIVERS", "wave");
    }
};

WaveConfig& config() {
    static WaveConfig c;
    return c;
}

[[maybe_unused]] const bool g_configured = (config(), true);

// Size and modification time: a running mixer changes one of them.
std::pair<qint64, QDateTime> fileState() {
    const QFileInfo info(config().output);
    return {info.exists() ? info.size() : -1, info.lastModified()};
}

} // namespace

bool waitForFirstOutput(int timeoutMs) {
    // Past the header, and past the 8 bytes a wipe keeps.
    return QTest::qWaitFor([] { return fileState().first > 68; }, timeoutMs);
}

bool outputAdvances(int windowMs) {
    const auto before = fileState();
    QTest::qWait(windowMs);
    return before.first >= 0 && fileState() != before;
}

bool wipeOutput() {
    QFile file(config().output);
    const qint64 size = file.size();
    return size > 8 && file.open(QIODevice::ReadWrite) && file.seek(8) &&
           file.write(QByteArray(size - 8, '\xff')) == size - 8;
}

Heard heardSinceWipe(float threshold) {
    Heard heard;
    const QByteArray bytes = readFile(config().output);
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
