#include "AudioServer.h"

#include "XSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <cmath>
#include <csignal>
#include <cstring>
#include <future>
#include <sndfile.h>
#include <sys/prctl.h>

namespace orvix::test {
namespace {

void dieWithParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

bool writeConfig(const QString& path, const QByteArray& text) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(text) == text.size();
}

} // namespace

QString startPrivateBus(QProcess& daemon) {
    daemon.setChildProcessModifier(dieWithParent);
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
        return {};
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

AudioServer::AudioServer(const QProcessEnvironment& env) : _env(env) {
    const QString config = _env.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (config.isEmpty() || _env.value(QStringLiteral("XDG_RUNTIME_DIR")).isEmpty())
        return;
    // No sound cards, cameras or Bluetooth: only the null sinks the tests make.
    writeConfig(config + QStringLiteral("/wireplumber/main.lua.d/51-orvix-test.lua"),
                "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
                "libcamera_monitor.enabled = false\n");
    writeConfig(config + QStringLiteral("/wireplumber/bluetooth.lua.d/51-orvix-test.lua"),
                "bluez_monitor.enabled = false\n");

    _processes.push_back(std::make_unique<QProcess>());
    _processes.back()->setProcessEnvironment(_env);
    const QString address = startPrivateBus(*_processes.back());
    if (address.isEmpty())
        return;
    _env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    if (!start(QStringLiteral("pipewire"), {})->waitForStarted(5000) ||
        !start(QStringLiteral("wireplumber"), {})->waitForStarted(5000))
        return;
    _ready = startPulse();
}

AudioServer::~AudioServer() {
    for (auto it = _processes.rbegin(); it != _processes.rend(); ++it) {
        (*it)->terminate();
        (*it)->waitForFinished(3000); // ~QProcess kills what is left
    }
}

QProcess* AudioServer::start(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(_env);
    process->setChildProcessModifier(dieWithParent);
    // Kept beside the session's home for a look after a failure.
    const QString log = QFileInfo(_env.value(QStringLiteral("XDG_RUNTIME_DIR"))).path() +
                        QStringLiteral("/") + program + QStringLiteral(".log");
    process->setStandardOutputFile(log, QIODevice::Append);
    process->setStandardErrorFile(log, QIODevice::Append);
    process->start(program, arguments);
    _processes.push_back(std::move(process));
    return _processes.back().get();
}

bool AudioServer::startPulse() {
    _pulse = start(QStringLiteral("pipewire-pulse"), {});
    return _pulse->waitForStarted(5000) &&
           XSession::waitFor([&] { return pactlOk({"info"}); }, 30000);
}

bool AudioServer::restartPulse() {
    if (!_pulse)
        return false;
    _pulse->kill();
    _pulse->waitForFinished(5000);
    return XSession::waitFor([&] { return !pactlOk({"info"}); }, 10000) && startPulse();
}

QString AudioServer::pactl(const QStringList& arguments, int* exitCode) const {
    QProcess p;
    p.setProcessEnvironment(_env);
    p.setChildProcessModifier(dieWithParent);
    p.start(QStringLiteral("pactl"), arguments);
    const bool finished = p.waitForFinished(10000);
    if (!finished) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (exitCode)
        *exitCode = finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool AudioServer::pactlOk(const QStringList& arguments) const {
    int status = -1;
    pactl(arguments, &status);
    return status == 0;
}

bool AudioServer::addNullSink(const QString& name) {
    // Right after start the server may still refuse modules for a moment.
    return XSession::waitFor(
               [&] {
                   return pactlOk({"load-module", "module-null-sink", "sink_name=" + name});
               },
               30000) &&
           XSession::waitFor([&] { return !sinkState(name).isEmpty(); }, 30000);
}

bool AudioServer::setDefaultSink(const QString& name) {
    // The session manager settles the default; wait until the server reports it.
    return pactlOk({"set-default-sink", name}) &&
           XSession::waitFor([&] { return pactl({"get-default-sink"}).trimmed() == name; }, 30000);
}

QString AudioServer::sinkState(const QString& name) const {
    for (const QJsonValue& sink : list("sinks"))
        if (sink[QStringLiteral("name")].toString() == name)
            return sink[QStringLiteral("state")].toString();
    return {};
}

QJsonArray AudioServer::list(const char* what) const {
    return QJsonDocument::fromJson(pactl({"-f", "json", "list", what}).toUtf8()).array();
}

namespace {
bool ownedBy(const QJsonValue& input, qint64 pid) {
    return input[QStringLiteral("properties")][QStringLiteral("application.process.id")]
               .toString() == QString::number(pid);
}
} // namespace

int AudioServer::corkedStreams(qint64 pid) const {
    int corked = 0;
    for (const QJsonValue& input : list("sink-inputs"))
        corked += ownedBy(input, pid) && input[QStringLiteral("corked")].toBool();
    return corked;
}

QStringList AudioServer::sinksOfStreams(qint64 pid) const {
    QMap<int, QString> sinkNames;
    for (const QJsonValue& sink : list("sinks"))
        sinkNames.insert(sink[QStringLiteral("index")].toInt(),
                         sink[QStringLiteral("name")].toString());
    QStringList sinks;
    for (const QJsonValue& input : list("sink-inputs")) {
        if (ownedBy(input, pid))
            sinks << sinkNames.value(input[QStringLiteral("sink")].toInt(), QStringLiteral("?"));
    }
    return sinks;
}

MonitorRecording::MonitorRecording(const QProcessEnvironment& env, const QString& sink) {
    std::promise<qint64> started;
    std::future<qint64> pid = started.get_future();
    _reader = std::thread([this, env, sink, &started] {
        QProcess parec; // blocking calls only: this thread runs no event loop
        parec.setProcessEnvironment(env);
        parec.setChildProcessModifier(dieWithParent);
        parec.start(QStringLiteral("parec"),
                    {"--raw", "--format=float32le", QStringLiteral("--rate=%1").arg(kRate),
                     "--channels=2", "--latency-msec=2", "--device=" + sink + ".monitor"});
        started.set_value(parec.waitForStarted(5000) ? parec.processId() : -1);
        QByteArray pending; // a sample split between two reads
        while (parec.state() == QProcess::Running && parec.waitForReadyRead(-1)) {
            const auto now = std::chrono::steady_clock::now();
            pending += parec.readAllStandardOutput();
            const qsizetype whole = pending.size() / (2 * sizeof(float)) * (2 * sizeof(float));
            std::lock_guard lock(_mutex);
            const size_t before = _samples.size();
            _samples.resize(before + static_cast<size_t>(whole) / sizeof(float));
            std::memcpy(_samples.data() + before, pending.constData(), static_cast<size_t>(whole));
            pending.remove(0, whole);
            _marks.push_back({_samples.size() / 2, now});
        }
    });
    _pid = static_cast<pid_t>(pid.get());
}

MonitorRecording::~MonitorRecording() {
    if (_pid > 0)
        ::kill(_pid, SIGTERM);
    if (_reader.joinable())
        _reader.join();
}

size_t MonitorRecording::frames() const {
    std::lock_guard lock(_mutex);
    return _samples.size() / 2;
}

std::vector<float> MonitorRecording::mono(size_t from, size_t to) const {
    std::lock_guard lock(_mutex);
    to = std::min(to, _samples.size() / 2);
    std::vector<float> out;
    for (size_t f = from; f < to; ++f)
        out.push_back(_samples[2 * f] + _samples[2 * f + 1]);
    return out;
}

long long MonitorRecording::onset(size_t from, float threshold) const {
    std::lock_guard lock(_mutex);
    for (size_t i = 2 * from; i < _samples.size(); ++i)
        if (std::fabs(_samples[i]) > threshold)
            return static_cast<long long>(i / 2);
    return -1;
}

std::chrono::steady_clock::time_point MonitorRecording::timeOfFrame(size_t frame) const {
    std::lock_guard lock(_mutex);
    for (const Mark& mark : _marks) {
        if (mark.frames > frame)
            return mark.at - std::chrono::microseconds((mark.frames - frame) * 1000000 / kRate);
    }
    return {};
}

bool MonitorRecording::waitForFrames(size_t count, int timeoutMs) const {
    return XSession::waitFor([&] { return frames() >= count; }, timeoutMs);
}

std::vector<float> readSoundFile(const QString& path, int rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    std::vector<float> in(static_cast<size_t>(std::max<sf_count_t>(got, 0)));
    for (size_t f = 0; f < in.size(); ++f) {
        float sum = 0;
        for (int c = 0; c < info.channels; ++c)
            sum += interleaved[f * static_cast<size_t>(info.channels) + static_cast<size_t>(c)];
        in[f] = sum / static_cast<float>(info.channels);
    }
    if (info.samplerate == rate || in.empty())
        return in;
    const double step = static_cast<double>(info.samplerate) / rate;
    std::vector<float> out(static_cast<size_t>(static_cast<double>(in.size()) / step));
    for (size_t i = 0; i < out.size(); ++i) {
        const double at = static_cast<double>(i) * step;
        const auto k = static_cast<size_t>(at);
        const double t = at - static_cast<double>(k);
        const float next = k + 1 < in.size() ? in[k + 1] : in[k];
        out[i] = static_cast<float>(in[k] * (1 - t) + next * t);
    }
    return out;
}

double similarity(const std::vector<float>& recorded, const std::vector<float>& expected) {
    if (expected.empty() || recorded.size() < expected.size())
        return 0;
    double expectedEnergy = 0;
    for (float e : expected)
        expectedEnergy += static_cast<double>(e) * e;
    double best = 0;
    for (size_t p = 0; p + expected.size() <= recorded.size(); ++p) {
        double dot = 0, energy = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            dot += static_cast<double>(recorded[p + i]) * expected[i];
            energy += static_cast<double>(recorded[p + i]) * recorded[p + i];
        }
        if (energy > 0)
            best = std::max(best, dot / std::sqrt(energy * expectedEnergy));
    }
    return best;
}

} // namespace orvix::test
