#pragma once

#include <QJsonArray>
#include <QProcess>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvix::test {

// A private D-Bus daemon in `daemon`, dying with the test; its address, or empty.
QString startPrivateBus(QProcess& daemon);

// A private PipeWire with only null sinks; its processes die with it or the test.
class AudioServer {
public:
    // `env` names the runtime and configuration folders to use.
    explicit AudioServer(const QProcessEnvironment& env);
    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    bool isRunning() const { return _ready; }
    // The environment given plus the session bus: for pactl and parec.
    QProcessEnvironment environment() const { return _env; }

    // Makes a null sink and waits until the server lists it.
    bool addNullSink(const QString& name);
    bool setDefaultSink(const QString& name);
    // "RUNNING", "IDLE" or "SUSPENDED"; empty when there is no such sink.
    QString sinkState(const QString& name) const;
    // The sinks that the process's playback streams go to, one entry per stream.
    QStringList sinksOfStreams(qint64 pid) const;
    // How many of the process's playback streams are corked (paused).
    int corkedStreams(qint64 pid) const;
    // Kills pipewire-pulse, waits until clients see it gone, and starts it
    // again. Its sinks go with it; make them again.
    bool restartPulse();
    // pactl with the server's environment; answers its standard output.
    QString pactl(const QStringList& arguments, int* exitCode = nullptr) const;

private:
    QJsonArray list(const char* what) const;
    bool pactlOk(const QStringList& arguments) const;
    QProcess* start(const QString& program, const QStringList& arguments);
    bool startPulse();

    QProcessEnvironment _env;
    std::vector<std::unique_ptr<QProcess>> _processes;
    QProcess* _pulse = nullptr;
    bool _ready = false;
};

// A sink's monitor recorded on its own thread, each block's arrival noted for timing.
class MonitorRecording {
public:
    static constexpr int kRate = 48000;

    MonitorRecording(const QProcessEnvironment& env, const QString& sink);
    ~MonitorRecording();
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;

    bool isRecording() const { return _pid > 0; }
    size_t frames() const;
    // Frames [from, to) as mono, the two channels added.
    std::vector<float> mono(size_t from, size_t to) const;
    // The first frame at or after `from` louder than `threshold`; -1 when none.
    long long onset(size_t from, float threshold = 0.01f) const;
    // When `frame` was captured: the arrival of its block, less the frames
    // that came after it in that block. Later than the truth by the server's
    // capture delay, so onset delays measured with it are upper bounds.
    std::chrono::steady_clock::time_point timeOfFrame(size_t frame) const;
    // Waits until at least `count` frames are in.
    bool waitForFrames(size_t count, int timeoutMs) const;

private:
    struct Mark {
        size_t frames;
        std::chrono::steady_clock::time_point at;
    };
    mutable std::mutex _mutex;
    std::vector<float> _samples; // interleaved stereo
    std::vector<Mark> _marks;
    std::thread _reader;
    pid_t _pid = -1;
};

// A sound file's mono samples, linearly resampled to `rate`; empty when unreadable.
std::vector<float> readSoundFile(const QString& path, int rate = MonitorRecording::kRate);

// Best cross-correlation of all of `expected` in `recorded`: 1 for the same sound.
double similarity(const std::vector<float>& recorded, const std::vector<float>& expected);

} // namespace orvix::test
