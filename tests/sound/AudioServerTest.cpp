// The real program's typing sounds heard at a private PipeWire's null-sink monitors.
#include "AudioServer.h"

#include "OrvixRun.h"
#include "sound/SoundTheme.h"
#include "sound/SystemSoundService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

using namespace orvix;
using test::AudioServer;
using test::MonitorRecording;
using test::XSession;

namespace {

constexpr int kCodeA = 0;      // the key xdotool presses as "a"
constexpr int kIdleMs = 30000; // longer than any sound server waits before suspending
constexpr double kWhole = 0.9; // similarity of a sound heard whole
const QString kSinkA = QStringLiteral("orvix_a"), kSinkB = QStringLiteral("orvix_b");
// A theme on holds two streams: the key sounds' and the keep-alive's.
QStringList bothOn(const QString& sink) {
    return {sink, sink};
}

// Loads themes for their samples only: no output needed.
class SilentService : public SystemSoundService {
public:
    int32_t createSound(const QString&, uint32_t* id) override {
        *id = ++_next;
        return kNoError;
    }
    int32_t setUISound(uint32_t, uint32_t) override { return kNoError; }
    void play(uint32_t) override {}
    void dispose(uint32_t) override {}

private:
    uint32_t _next = 0;
};

// The samples a press of `code` may play in the shipped theme `name`.
std::vector<std::vector<float>> pressSounds(const QString& name, int code) {
    SilentService service;
    SystemSoundService* previous = SystemSoundService::install(&service);
    QString error;
    const auto theme = SoundTheme::unarchiveObjectWithFile(
        QStringLiteral(ORVIX_TEST_BINARY_DIR "/share/orvix/SoundThemes/") + name +
            QStringLiteral(".snth"),
        error);
    std::vector<std::vector<float>> sounds;
    if (theme) {
        const SoundTheme::Slot& slot = theme->sounds()[1][static_cast<size_t>(code)];
        std::vector<SoundTheme::Entry> entries = slot.list;
        if (slot.kind == SoundTheme::Slot::Kind::Single)
            entries = {slot.single};
        for (const SoundTheme::Entry& entry : entries)
            if (entry.sound)
                sounds.push_back(test::readSoundFile(entry.sound->url().toLocalFile()));
    }
    SystemSoundService::install(previous);
    return sounds;
}

bool hasServer() {
    for (const char* program : {"pipewire", "pipewire-pulse", "wireplumber", "pactl", "parec"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            return false;
    return true;
}

// Voluntary context switches of a thread: each is one sleep and one wake-up.
long long wakeUps(qint64 pid, qint64 tid) {
    QFile status(QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(tid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const auto m = QRegularExpression(QStringLiteral("voluntary_ctxt_switches:\\s+(\\d+)"))
                       .match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

class AudioServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasServer())
            GTEST_SKIP() << "PipeWire, pipewire-pulse, WirePlumber or pulseaudio-utils missing";
        ASSERT_TRUE(x.isRunning()) << "Xvfb did not start";
        server = std::make_unique<AudioServer>(x.environment());
        ASSERT_TRUE(server->isRunning()) << "the sound server did not start";
        ASSERT_TRUE(makeSinks());
        x.setEnv(QStringLiteral("ALSOFT_DRIVERS"), QStringLiteral("pulse"));
        tmp = x.home() + QStringLiteral("/tmp");
        QDir().mkpath(tmp);
        x.setEnv(QStringLiteral("TMPDIR"), tmp);
        expected = pressSounds(QStringLiteral("Typewriter"), kCodeA);
        ASSERT_FALSE(expected.empty());
        for (const auto& sound : expected)
            ASSERT_GT(sound.size(), 100u);
    }

    // Two outputs, the first the default.
    bool makeSinks() {
        return server->addNullSink(kSinkA) && server->addNullSink(kSinkB) &&
               server->setDefaultSink(kSinkA);
    }

    void launch(const QByteArray& soundTheme) {
        ASSERT_TRUE(x.writeOrvixConfig(
            "[General]\nmoveToApplicationsFolderAlertSuppress=true\nFeedbackSuppress=true\n"
            "CheckForUpdates=false\nSUEnableAutomaticChecks=false\nSoundTheme=" +
            soundTheme + "\n"));
        x.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), "0", "0"});
        run = std::make_unique<test::OrvixRun>(x);
        orvix = run->process();
        panel = run->panel();
        ASSERT_FALSE(panel.isEmpty());
    }

    QStringList streams() const { return server->sinksOfStreams(orvix->processId()); }
    ::testing::AssertionResult waitForStreams(const QStringList& sinks) const {
        if (XSession::waitFor([&] { return streams() == sinks; }, 15000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "streams go to " << qPrintable(streams().join(u','));
    }

    void key(const char* action) const {
        x.run(QStringLiteral("xdotool"), {QString::fromLatin1(action), QStringLiteral("a")});
    }

    // Presses "a" and answers how alike the sound heard at `sink` is to the
    // theme's press sound; -1 when nothing was heard in time.
    double pressAndHear(const QString& sink, double* onsetMs = nullptr, int waitMs = 5000) {
        MonitorRecording recording(server->environment(), sink);
        // The monitor delivers before the key goes down.
        if (!recording.isRecording() || !recording.waitForFrames(4800, 10000))
            return -1;
        const size_t from = recording.frames();
        const auto pressed = std::chrono::steady_clock::now();
        key("keydown");
        long long onset = -1;
        XSession::waitFor([&] { return (onset = recording.onset(from)) >= 0; }, waitMs);
        size_t longest = 0;
        for (const auto& sound : expected)
            longest = std::max(longest, sound.size());
        if (onset >= 0)
            recording.waitForFrames(static_cast<size_t>(onset) + longest + 4800, 5000);
        key("keyup"); // its sound comes after the part compared
        if (onset < 0)
            return -1;
        if (onsetMs)
            *onsetMs = std::chrono::duration<double, std::milli>(
                           recording.timeOfFrame(static_cast<size_t>(onset)) - pressed)
                           .count();
        // From 10 ms before the onset, where a soft start would begin.
        const size_t start = static_cast<size_t>(std::max(0LL, onset - 480));
        const std::vector<float> heard = recording.mono(start, start + longest + 2400);
        double best = 0;
        for (const auto& sound : expected)
            best = std::max(best, test::similarity(heard, sound));
        return best;
    }

    // Opens the gear menu and walks it with the keyboard as a user would.
    void gearMenu(const QStringList& keys) const {
        const auto g = x.windowGeometry(panel);
        x.click(g.x + g.width - 13, g.y + 11);
        ASSERT_TRUE(
            XSession::waitFor([&] { return x.windowsOfPid(orvix->processId()).size() >= 2; }));
        for (const QString& k : keys) {
            x.run(QStringLiteral("xdotool"), {QStringLiteral("key"), k});
            XSession::waitFor([] { return false; }, 250);
        }
    }
    // Picks the sounds menu's item at `index` ("Off" is 0).
    void chooseSound(int index) const {
        QStringList keys = {"Down", "Down", "Right"}; // "Typing Sounds", into it
        for (int i = 0; i < index; ++i)
            keys << QStringLiteral("Down");
        gearMenu(keys << QStringLiteral("Return"));
    }
    bool waitForExit() const {
        return XSession::waitFor([&] { return orvix->state() == QProcess::NotRunning; });
    }
    QString storedSoundTheme() const {
        return QSettings(x.orvixConfigPath(), QSettings::IniFormat)
            .value(QStringLiteral("SoundTheme"))
            .toString();
    }

    int logLines(const char* text) { return static_cast<int>(run->output().count(text)); }

    QStringList leftInTmp() const {
        return QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    XSession x{XSession::Options{.windowManager = false}};
    std::unique_ptr<AudioServer> server;
    std::vector<std::vector<float>> expected;
    std::unique_ptr<test::OrvixRun> run;
    QProcess* orvix = nullptr;
    QString panel, tmp;
};

TEST_F(AudioServerTest, ThemeKeepsTheOutputAwakeAndSoundsFollowTheServer) {
    ASSERT_NO_FATAL_FAILURE(launch("Typewriter"));
    ASSERT_TRUE(waitForStreams(bothOn(kSinkA)));

    // No keys for longer than the session manager waits before it suspends
    // an idle sink: the key sounds' stream pauses, yet the sink never
    // sleeps, and Orvix's main thread wakes for the keep-alive's ticks, not
    // for timers of its own.
    const qint64 pid = orvix->processId();
    QElapsedTimer idle;
    idle.start();
    QStringList states;
    long long wakesAtHalf = -1;
    while (idle.elapsed() < kIdleMs) {
        const QString state = server->sinkState(kSinkA);
        if (!states.contains(state))
            states << state;
        // The second half only: the launch's own work is over by then.
        if (wakesAtHalf < 0 && idle.elapsed() >= kIdleMs / 2)
            wakesAtHalf = wakeUps(pid, pid);
        XSession::waitFor([] { return false; }, 500);
    }
    const long long mainWakes = wakeUps(pid, pid) - wakesAtHalf;
    EXPECT_TRUE(XSession::waitFor([&] { return server->corkedStreams(pid) == 1; }, 5000))
        << "the mixer ran on while idle, or nothing held the output";
    std::printf("[ sound ] sink states while idle: %s; main thread woke %lld times in the last "
                "%d s\n",
                qPrintable(states.join(u',')), mainWakes, kIdleMs / 2000);
    EXPECT_FALSE(states.contains(QStringLiteral("SUSPENDED"))) << states.join(u',').toStdString();
    // A timer of once a second or faster on the main thread shows here; the
    // keep-alive's tick every 10 s does not.
    EXPECT_LT(mainWakes, kIdleMs / 2000) << "the main thread woke on a timer while idle";

    double onsetMs = 0;
    const double first = pressAndHear(kSinkA, &onsetMs);
    std::printf("[ sound ] first key after idle: similarity %.3f, key to onset %.1f ms\n", first,
                onsetMs);
    EXPECT_GE(first, kWhole) << "the first sound after idle was not heard whole";

    // The user picks another output: the stream moves, key sounds follow.
    ASSERT_TRUE(server->setDefaultSink(kSinkB));
    EXPECT_TRUE(waitForStreams(bothOn(kSinkB)));
    const double moved = pressAndHear(kSinkB);
    EXPECT_GE(moved, kWhole) << "no key sound on the new default output";

    // The sound server goes away and comes back: sounds come back without
    // a restart of Orvix, and the log says so once each way.
    ASSERT_TRUE(server->restartPulse());
    ASSERT_TRUE(makeSinks());
    double back = -1;
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    while (back < kWhole && sinceRestart.elapsed() < 20000)
        back = pressAndHear(kSinkA, nullptr, 1500);
    EXPECT_GE(back, kWhole) << "no key sound after the sound server came back";
    EXPECT_EQ(streams(), bothOn(kSinkA)) << "a stream left behind or doubled";
    ASSERT_TRUE(run->waitForOutput("Audio output back")) << run->output().constData();
    EXPECT_EQ(logLines("Audio output lost"), 1) << run->output().constData();
    EXPECT_EQ(logLines("Audio output back"), 1);
    EXPECT_EQ(logLines("Audio output") + logLines("No audio output"), 2);

    // Quitting takes the theme's temporary files away.
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ASSERT_TRUE(waitForExit());
    EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(u' ').toStdString();
}

TEST_F(AudioServerTest, OffHoldsNoStreamAndNoRunLeavesFilesBehind) {
    // A theme of the user's whose name has an ampersand: a copy of a shipped one.
    const QString themes = x.home() + QStringLiteral("/.local/share/orvix/SoundThemes");
    ASSERT_TRUE(QDir().mkpath(themes));
    ASSERT_TRUE(QFile::copy(
        QStringLiteral(ORVIX_TEST_BINARY_DIR "/share/orvix/SoundThemes/Typewriter.snth"),
        themes + QStringLiteral("/Rock & Roll.snth")));

    // A run killed with its theme on leaves its folder; the next run takes it away.
    ASSERT_NO_FATAL_FAILURE(launch("Typewriter"));
    ASSERT_TRUE(waitForStreams(bothOn(kSinkA)));
    const QStringList killedRun = leftInTmp();
    ASSERT_EQ(killedRun.size(), 1) << killedRun.join(u' ').toStdString();
    EXPECT_FALSE(QDir(tmp + QStringLiteral("/") + killedRun[0]).isEmpty());
    orvix->kill();
    ASSERT_TRUE(waitForExit());
    ASSERT_NO_FATAL_FAILURE(launch("Typewriter"));
    ASSERT_TRUE(waitForStreams(bothOn(kSinkA)));
    EXPECT_TRUE(XSession::waitFor([&] {
        const QStringList now = leftInTmp();
        return now.size() == 1 && now[0] != killedRun[0];
    })) << leftInTmp().join(u' ').toStdString();

    // "Off": no stream at all. Sounds: Off, Crisp Mechanical, Rock & Roll, ...
    ASSERT_NO_FATAL_FAILURE(chooseSound(0));
    EXPECT_TRUE(waitForStreams({}));
    EXPECT_EQ(storedSoundTheme(), QStringLiteral("Off"));
    // Back on, by the name with the ampersand: stored as it is, found again,
    // its two streams, and its sounds heard whole.
    ASSERT_NO_FATAL_FAILURE(chooseSound(2));
    EXPECT_TRUE(XSession::waitFor([&] { return storedSoundTheme() == "Rock & Roll"; }))
        << storedSoundTheme().toStdString();
    EXPECT_TRUE(waitForStreams(bothOn(kSinkA)));
    EXPECT_GE(pressAndHear(kSinkA), kWhole);

    // "Quit Orvix", the gear menu's last item: the run's files go with it.
    ASSERT_NO_FATAL_FAILURE(gearMenu({QStringLiteral("Up"), QStringLiteral("Return")}));
    ASSERT_TRUE(waitForExit());
    EXPECT_EQ(orvix->exitCode(), 0);
    EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(u' ').toStdString();
}

} // namespace
