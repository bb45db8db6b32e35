// soundsynth: synthesises the typing sounds of Orvix's shipped sound themes.
//
//   soundsynth OUTDIR
//
// writes OUTDIR/<theme>/ with one WAV file per sound and a manifest.txt for
// orvix-snth, and OUTDIR/silence.wav for the audio keep-alive. Every sound is
// modelled from a few physical parts of a key stroke (the switch's click, the
// keycap's ring, the bottom-out thud, a stabiliser's rattle, a typewriter's
// type bar and bell) with a fixed random seed, so the output is the same on
// every run.
#include <QDir>
#include <QFile>
#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sndfile.h>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

class Rng {
public:
    explicit Rng(uint64_t seed) : _s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    double uniform() {
        _s ^= _s << 13;
        _s ^= _s >> 7;
        _s ^= _s << 17;
        return static_cast<double>(_s >> 11) / 9007199254740992.0;
    }
    double noise() { return uniform() * 2 - 1; }
    // A factor near 1 for variant-to-variant spread.
    double jitter(double amount) { return 1 + amount * noise(); }

private:
    uint64_t _s;
};

// Audio-cookbook biquad.
class Biquad {
public:
    enum Type { LowPass, HighPass, BandPass };
    Biquad(Type type, double freq, double q) {
        const double w = 2 * kPi * freq / kRate, cw = std::cos(w), alpha = std::sin(w) / (2 * q);
        double b0, b1, b2;
        switch (type) {
        case LowPass:
            b0 = (1 - cw) / 2, b1 = 1 - cw, b2 = (1 - cw) / 2;
            break;
        case HighPass:
            b0 = (1 + cw) / 2, b1 = -(1 + cw), b2 = (1 + cw) / 2;
            break;
        default:
            b0 = alpha, b1 = 0, b2 = -alpha;
            break;
        }
        const double a0 = 1 + alpha;
        _b0 = b0 / a0, _b1 = b1 / a0, _b2 = b2 / a0, _a1 = -2 * cw / a0, _a2 = (1 - alpha) / a0;
    }
    double operator()(double x) {
        const double y = _b0 * x + _b1 * _x1 + _b2 * _x2 - _a1 * _y1 - _a2 * _y2;
        _x2 = _x1, _x1 = x, _y2 = _y1, _y1 = y;
        return y;
    }

private:
    double _b0, _b1, _b2, _a1, _a2, _x1 = 0, _x2 = 0, _y1 = 0, _y2 = 0;
};

class Voice {
public:
    explicit Voice(double ms) : _s(static_cast<size_t>(ms * kRate / 1000), 0.0) {}

    // A filtered noise burst: the contact click or a rattle.
    void burst(Rng& rng, double atMs, double decayMs, double amp, Biquad filter) {
        const size_t start = index(atMs);
        for (size_t i = start; i < _s.size(); ++i) {
            const double t = static_cast<double>(i - start) / kRate * 1000;
            const double attack = std::min(1.0, t / 0.15);
            _s[i] += amp * attack * std::exp(-t / decayMs) * filter(rng.noise());
        }
    }
    // A decaying partial: the ring of a keycap, a plate or a bell.
    void mode(double atMs, double freq, double decayMs, double amp, double phase = 0) {
        const size_t start = index(atMs);
        for (size_t i = start; i < _s.size(); ++i) {
            const double t = static_cast<double>(i - start) / kRate;
            _s[i] += amp * std::exp(-t * 1000 / decayMs) * std::sin(2 * kPi * freq * t + phase);
        }
    }
    // A low thud whose pitch falls as it decays: a key bottoming out.
    void thud(double atMs, double freq, double decayMs, double amp) {
        const size_t start = index(atMs);
        double phase = 0;
        for (size_t i = start; i < _s.size(); ++i) {
            const double t = static_cast<double>(i - start) / kRate * 1000;
            const double f = freq * (1 + 0.6 * std::exp(-t / 4));
            phase += 2 * kPi * f / kRate;
            const double attack = std::min(1.0, t / 0.6);
            _s[i] += amp * attack * std::exp(-t / decayMs) * std::sin(phase);
        }
    }
    // Scales to `peak`, removes any offset and fades the tail to zero.
    std::vector<float> finish(double peak) {
        double mean = 0;
        for (double v : _s)
            mean += v;
        mean /= static_cast<double>(_s.size());
        double max = 1e-9;
        for (double& v : _s) {
            v -= mean;
            max = std::max(max, std::fabs(v));
        }
        std::vector<float> out(_s.size());
        const size_t fade = std::min<size_t>(_s.size(), kRate * 4 / 1000);
        for (size_t i = 0; i < _s.size(); ++i) {
            double g = peak / max;
            if (i >= _s.size() - fade)
                g *= static_cast<double>(_s.size() - i) / static_cast<double>(fade);
            out[i] = static_cast<float>(_s[i] * g);
        }
        return out;
    }

private:
    size_t index(double ms) const {
        return std::min(_s.size(), static_cast<size_t>(ms * kRate / 1000));
    }
    std::vector<double> _s;
};

bool writeWav(const QString& path, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    // Plain rounding, no dither: the same input gives the same file.
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return true;
}

enum class Group { Key, Space, Return, Delete, Modifier };
enum class Stroke { Press, Release };

struct Theme {
    const char* id;
    std::vector<float> (*make)(Group, Stroke, Rng&);
};

// A crisp mechanical switch: tactile click, bright keycap ring, firm bottom-out.
std::vector<float> mechanical(Group g, Stroke s, Rng& r) {
    const double pitch = g == Group::Delete ? 1.1 : g == Group::Modifier ? 0.85 : 1.0;
    if (s == Stroke::Release) {
        Voice v(70);
        v.burst(r, 0, 1.2 * r.jitter(0.2), 0.5,
                Biquad(Biquad::BandPass, 4200 * r.jitter(0.08), 1.5));
        v.mode(0.3, 3100 * pitch * r.jitter(0.05), 5, 0.25);
        v.thud(2.5 * r.jitter(0.2), 600 * pitch, 6, 0.15);
        if (g == Group::Space || g == Group::Return)
            v.burst(r, 6, 2, 0.2, Biquad(Biquad::BandPass, 1800, 2));
        const double level = g == Group::Space ? 0.45 : g == Group::Modifier ? 0.3 : 0.38;
        return v.finish(level * r.jitter(0.08));
    }
    const bool big = g == Group::Space || g == Group::Return;
    Voice v(big ? 130 : 100);
    v.burst(r, 0, 1.8 * r.jitter(0.2), 0.7, Biquad(Biquad::BandPass, 3600 * r.jitter(0.1), 1.8));
    v.mode(0.2, 2250 * pitch * r.jitter(0.06), 8, 0.3, r.uniform() * kPi);
    v.mode(0.2, 3900 * pitch * r.jitter(0.06), 6, 0.18, r.uniform() * kPi);
    v.mode(0.2, 5650 * pitch * r.jitter(0.06), 4, 0.09);
    const double bottom = 3.2 * r.jitter(0.15);
    const double thudFreq = g == Group::Space      ? 140
                            : g == Group::Return   ? 175
                            : g == Group::Modifier ? 190
                                                   : 230;
    v.thud(bottom, thudFreq * r.jitter(0.05), big ? 40 : 24, big ? 0.75 : 0.5);
    v.burst(r, bottom, 5, 0.45, Biquad(Biquad::LowPass, 1500 * r.jitter(0.1), 0.9));
    if (big) // the stabiliser wire rattles after the key lands
        for (double at : {bottom + 4.5, bottom + 8.5})
            v.burst(r, at * r.jitter(0.1), 1.5, 0.22, Biquad(Biquad::BandPass, 1900, 2.5));
    const double level = big ? 0.8 : g == Group::Modifier ? 0.55 : 0.68;
    return v.finish(level * r.jitter(0.08));
}

// A soft laptop key: a short, muffled scissor-switch tap.
std::vector<float> laptop(Group g, Stroke s, Rng& r) {
    const double body = g == Group::Space      ? 340
                        : g == Group::Return   ? 440
                        : g == Group::Delete   ? 700
                        : g == Group::Modifier ? 520
                                               : 610;
    if (s == Stroke::Release) {
        Voice v(45);
        v.burst(r, 0, 1.0, 0.3, Biquad(Biquad::BandPass, 3300 * r.jitter(0.1), 1.2));
        v.mode(0.2, body * 1.5 * r.jitter(0.05), 5, 0.2);
        return v.finish((g == Group::Space ? 0.22 : 0.16) * r.jitter(0.1));
    }
    const bool big = g == Group::Space || g == Group::Return;
    Voice v(big ? 70 : 55);
    v.burst(r, 0, 2.5 * r.jitter(0.2), 0.55, Biquad(Biquad::LowPass, 2400 * r.jitter(0.1), 0.8));
    v.mode(0.4, body * r.jitter(0.05), 12, 0.45, r.uniform() * kPi);
    v.mode(0.4, body * 1.83 * r.jitter(0.05), 8, 0.22);
    v.mode(0.4, body * 3.1 * r.jitter(0.05), 5, 0.08);
    if (big) // the second hinge of a wide key lands a moment later
        v.burst(r, 2.2 * r.jitter(0.2), 2, 0.35, Biquad(Biquad::LowPass, 1800, 0.8));
    return v.finish((big ? 0.5 : g == Group::Modifier ? 0.36 : 0.42) * r.jitter(0.08));
}

// A manual typewriter: type bar striking the platen, escapement, carriage bell.
std::vector<float> typewriter(Group g, Stroke s, Rng& r) {
    if (s == Stroke::Release) {
        Voice v(60);
        v.burst(r, 0, 2.5, 0.35, Biquad(Biquad::BandPass, 2000 * r.jitter(0.1), 1.4));
        v.mode(0.5, 1600 * r.jitter(0.06), 14, 0.2);
        if (g == Group::Modifier) // the basket settles back
            v.thud(1, 75, 30, 0.5);
        return v.finish((g == Group::Modifier ? 0.45 : 0.32) * r.jitter(0.1));
    }
    switch (g) {
    case Group::Return: {
        // The lever ratchets the platen, then the carriage slams and the bell rings.
        Voice v(520);
        for (int i = 0; i < 6; ++i)
            v.burst(r, i * 22 * r.jitter(0.08), 2.5, 0.35,
                    Biquad(Biquad::BandPass, 2600 * r.jitter(0.1), 2));
        v.thud(140, 85 * r.jitter(0.05), 45, 0.9);
        v.burst(r, 140, 6, 0.5, Biquad(Biquad::LowPass, 1200, 0.8));
        const double bell = 2093 * r.jitter(0.01);
        v.mode(150, bell, 180, 0.5);
        v.mode(150, bell * 2.76, 90, 0.18);
        v.mode(150, bell * 5.4, 40, 0.08);
        return v.finish(0.85 * r.jitter(0.05));
    }
    case Group::Space: {
        // No type bar: the space bar trips the escapement only.
        Voice v(110);
        v.thud(0, 95 * r.jitter(0.05), 30, 0.6);
        v.burst(r, 0.5, 3, 0.4, Biquad(Biquad::BandPass, 2900 * r.jitter(0.1), 1.6));
        v.burst(r, 12 * r.jitter(0.1), 1.5, 0.3, Biquad(Biquad::BandPass, 3400, 2));
        return v.finish(0.6 * r.jitter(0.08));
    }
    case Group::Modifier: {
        // Shifting lifts the whole type basket: a heavy clunk.
        Voice v(150);
        v.thud(0, 70 * r.jitter(0.05), 55, 0.9);
        v.burst(r, 0, 8, 0.35, Biquad(Biquad::LowPass, 900, 0.8));
        v.burst(r, 9 * r.jitter(0.1), 2, 0.25, Biquad(Biquad::BandPass, 2300, 2));
        return v.finish(0.62 * r.jitter(0.08));
    }
    default: {
        const double pitch = g == Group::Delete ? 0.92 : 1.0;
        Voice v(150);
        v.burst(r, 0, 0.8, 0.9, Biquad(Biquad::HighPass, 4500 * r.jitter(0.1), 0.8));
        const double base = 1250 * pitch * r.jitter(0.05);
        v.mode(0.3, base, 40, 0.35, r.uniform() * kPi);
        v.mode(0.3, base * 2.26, 30, 0.25, r.uniform() * kPi);
        v.mode(0.3, base * 3.33, 22, 0.15);
        v.mode(0.3, base * 5.05, 15, 0.08);
        v.thud(1, 110 * r.jitter(0.05), 35, 0.55);
        v.burst(r, 34 * r.jitter(0.1), 2, 0.22, Biquad(Biquad::BandPass, 3000, 2));
        return v.finish(0.78 * r.jitter(0.08));
    }
    }
}

struct GroupSpec {
    Group group;
    const char* name;
    const char* codes;
    int pressVariants;
    int releaseVariants;
};

// Apple virtual key codes of each group; everything else on the keyboard is a
// plain key. Later manifest lines override the first.
const GroupSpec kGroups[] = {
    {Group::Key, "key", "0-127", 5, 4},           {Group::Space, "space", "49", 3, 2},
    {Group::Return, "return", "36,76", 2, 2},     {Group::Delete, "delete", "51,117", 3, 2},
    {Group::Modifier, "modifier", "54-63", 2, 2},
};

bool makeTheme(const QDir& out, const Theme& theme, uint64_t seed) {
    QDir dir(out.filePath(QString::fromLatin1(theme.id)));
    if (!dir.mkpath(QStringLiteral(".")))
        return false;
    QString manifest =
        QStringLiteral("# Generated by soundsynth; press and release per key group.\n");
    Rng rng(seed);
    for (const GroupSpec& g : kGroups) {
        for (Stroke stroke : {Stroke::Press, Stroke::Release}) {
            const bool press = stroke == Stroke::Press;
            QStringList files;
            const int variants = press ? g.pressVariants : g.releaseVariants;
            for (int v = 1; v <= variants; ++v) {
                const QString file = QStringLiteral("%1-%2-%3.wav")
                                         .arg(QLatin1String(g.name))
                                         .arg(press ? QStringLiteral("down") : QStringLiteral("up"))
                                         .arg(v);
                if (!writeWav(dir.filePath(file), theme.make(g.group, stroke, rng)))
                    return false;
                files << file;
            }
            manifest += QStringLiteral("%1 %2 %3\n")
                            .arg(press ? QStringLiteral("press") : QStringLiteral("release"))
                            .arg(QLatin1String(g.codes))
                            .arg(files.join(QLatin1Char(' ')));
        }
    }
    QFile f(dir.filePath(QStringLiteral("manifest.txt")));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(manifest.toUtf8()) == manifest.toUtf8().size();
}

// A quarter second just above digital silence (one least-significant bit of
// alternating sign, about -90 dB): inaudible, yet never the pure zeros on
// which some outputs power down.
bool makeSilence(const QDir& out) {
    std::vector<float> samples(kRate / 4);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2 ? 1.0f : -1.0f) / 32768.0f;
    return writeWav(out.filePath(QStringLiteral("silence.wav")), samples);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: soundsynth OUTDIR\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "soundsynth: cannot create %s\n", argv[1]);
        return 1;
    }
    const Theme themes[] = {
        {"crisp-mechanical", mechanical}, {"soft-laptop", laptop}, {"typewriter", typewriter}};
    uint64_t seed = 1;
    for (const Theme& t : themes) {
        if (!makeTheme(out, t, seed++)) {
            std::fprintf(stderr, "soundsynth: cannot write theme %s\n", t.id);
            return 1;
        }
    }
    if (!makeSilence(out)) {
        std::fprintf(stderr, "soundsynth: cannot write silence.wav\n");
        return 1;
    }
    return 0;
}
