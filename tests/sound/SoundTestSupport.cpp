#include "SoundTestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cmath>
#include <cstdlib>
#include <sndfile.h>

namespace orvix::test {
namespace {

QString makeDir(const char* pattern) {
    QByteArray templ = QByteArray("/tmp/") + pattern;
    char* made = mkdtemp(templ.data());
    return made ? QString::fromLocal8Bit(made) : QString();
}

struct Folders {
    QString resources, data, scratch, temporary;
    Folders() {
        resources = makeDir("orvix-sound-res-XXXXXX");
        data = makeDir("orvix-sound-data-XXXXXX");
        scratch = makeDir("orvix-sound-scratch-XXXXXX");
        temporary = makeDir("orvix-sound-tmp-XXXXXX");
        qputenv("ORVIX_RESOURCES", QFile::encodeName(resources));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        // Temporary sound files, and the folders of runs, apart from other programs'.
        qputenv("TMPDIR", QFile::encodeName(temporary));
    }
    ~Folders() {
        for (const QString& dir : {resources, data, scratch, temporary})
            if (dir.startsWith(QLatin1String("/tmp/orvix-sound-")))
                QDir(dir).removeRecursively();
    }
};

Folders& folders() {
    static Folders f;
    return f;
}

// Set up before main, before anything asks the bundle for its folder.
[[maybe_unused]] const bool g_ready = (folders(), true);

} // namespace

QString resourceDir() {
    return folders().resources;
}
QString scratchDir() {
    return folders().scratch;
}

bool writeTone(const QString& path, float level, int frames, int format) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = format | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<float> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<size_t>(i)] = (i % 48) < 24 ? level : -level;
    sf_writef_float(f, samples.data(), frames);
    sf_close(f);
    return true;
}

QString scratchTone(const QString& name, float level, int frames, int format) {
    const QString path = QDir(scratchDir()).filePath(name);
    return writeTone(path, level, frames, format) ? path : QString();
}

std::shared_ptr<Sound> scratchSound(const QString& name, float level, int format) {
    return Sound::initWithContentsOfURL(
        QUrl::fromLocalFile(scratchTone(name, level, 2400, format)));
}

bool audibleSilence(int frames) {
    return writeTone(QDir(resourceDir()).filePath(QStringLiteral("silence.wav")), 0.5f, frames);
}

std::vector<SoundTheme::Row> emptyTable() {
    return std::vector<SoundTheme::Row>(SoundTheme::kRows, SoundTheme::Row(SoundTheme::kSlots));
}

void useLoopback() {
    static bool opened = AudioEngine::sharedInstance().openLoopback(48000);
    (void)opened;
}

std::vector<float> render(int frames) {
    return AudioEngine::sharedInstance().render(frames);
}

float peak(const std::vector<float>& samples) {
    float p = 0;
    for (float s : samples)
        p = std::max(p, std::fabs(s));
    return p;
}

void drain() {
    for (int i = 0; i < 50 && AudioEngine::sharedInstance().playingVoices() > 0; ++i)
        render(960);
}

float playedPeak(const std::function<void()>& play) {
    play();
    const float p = peak(render(2400));
    drain();
    return p;
}

} // namespace orvix::test
