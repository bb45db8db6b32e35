#include "sound/SoundTheme.h"

#include "LogCapture.h"
#include "SoundTestSupport.h"
#include "sound/AudioEngine.h"
#include "sound/KeyedArchive.h"
#include "sound/Sound.h"
#include "sound/SystemSoundService.h"
#include "sound/TemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace orvix;
using orvix::test::LogCapture;
using Slot = SoundTheme::Slot;
using archive::Node;
using archive::NodePtr;

namespace {

class SoundThemeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::useLoopback(); }
    void SetUp() override { test::drain(); }
    static std::shared_ptr<Sound> sound(const QString& name, float level) {
        auto s = test::scratchSound(name, level);
        EXPECT_TRUE(s) << name.toStdString();
        return s;
    }
};

// Plays that must stay silent, each with exactly the log lines it gives.
TEST_F(SoundThemeTest, RefusedPlaysAreSilentAndLoggedOnce) {
    auto table = test::emptyTable();
    table[1][254] = Slot::of(sound("edge.wav", 0.5f));
    table[1][0] = table[1][254];
    table[1][5] = Slot::invalid(Node::makeString("not a sound"));
    Slot list = Slot::ofList({sound("ok.wav", 0.4f)});
    list.list.push_back({nullptr, Node::makeNull()});
    list.list.erase(list.list.begin());
    table[0][6] = list;
    SoundTheme theme("Faults", table);
    SoundTheme off;
    const auto play = [&](uint64_t code, uint64_t state) {
        return [&theme, code, state] {
            theme.playSoundForKeyCode(code, state);
        };
    };
    struct Case {
        const char* what;
        std::function<void()> play;
        std::vector<const char*> logs;
    };
    const std::vector<Case> cases = {
        {"Off, every key",
         [&] {
             for (uint64_t state = 0; state < 3; ++state)
                 for (uint64_t code = 0; code < 255; ++code)
                     off.playSoundForKeyCode(code, state);
         },
         {}},
        {"code past the table", play(255, 1), {"Play Sound for Key Code 255 out of bounds"}},
        {"state past the table", play(0, 3), {"Play Sound for Key State 3 out of bounds"}},
        {"invalid slot", play(5, 1), {"Invalid sound (NSString) for Key Code 5 and Key State 1"}},
        {"invalid list entry",
         play(6, 0),
         {"Invalid sound (NSNull) for Key Code 6 and Key State 0"}},
        {"another thread",
         [&] { std::thread(play(0, 1)).join(); },
         {"Sounds must be played on the main thread"}},
    };
    for (const Case& c : cases) {
        LogCapture cap;
        c.play();
        EXPECT_EQ(cap.lines().size(), c.logs.size()) << c.what;
        for (const char* line : c.logs)
            EXPECT_TRUE(cap.contains(line)) << c.what;
        EXPECT_EQ(test::peak(test::render(2400)), 0.0f) << c.what;
    }
    // The last valid slot does play.
    EXPECT_GT(test::playedPeak(play(254, 1)), 0.1f);
}

TEST_F(SoundThemeTest, PressRendersTheSoundsSamples) {
    auto table = test::emptyTable();
    table[1][0] = Slot::of(sound("press.wav", 0.5f));
    table[0][0] = Slot::of(sound("release.wav", 0.25f));
    SoundTheme theme("Samples", table);

    theme.playSoundForKeyCode(0, 1);
    const std::vector<float> out = test::render(2400);
    // The left channel follows the square wave: +level for 24 frames, -level for 24.
    int matches = 0;
    for (int i = 4; i < 2300; ++i) {
        const float s = out[static_cast<size_t>(i) * 2];
        const bool high = (i % 48) < 24;
        if ((high && s > 0.2f) || (!high && s < -0.2f))
            ++matches;
    }
    EXPECT_GT(matches, 2200) << "the rendered wave does not follow the sound";
    test::drain();
    const float press = test::playedPeak([&] { theme.playSoundForKeyCode(0, 1); });
    const float release = test::playedPeak([&] { theme.playSoundForKeyCode(0, 0); });
    EXPECT_NEAR(release / press, 0.5f, 0.05f);
    // Other keys stay silent.
    EXPECT_EQ(test::playedPeak([&] { theme.playSoundForKeyCode(1, 1); }), 0.0f);
}

TEST_F(SoundThemeTest, ListSlotPicksAmongItsSoundsOnEveryPlay) {
    const std::vector<float> levels = {0.1f, 0.3f, 0.6f};
    std::vector<std::shared_ptr<Sound>> sounds;
    std::vector<float> peaks;
    for (size_t i = 0; i < levels.size(); ++i) {
        sounds.push_back(sound(QStringLiteral("variant%1.wav").arg(i), levels[i]));
        peaks.push_back(test::playedPeak([&] { sounds.back()->play(); }));
    }
    auto table = test::emptyTable();
    table[1][10] = Slot::ofList(sounds);
    table[1][11] = Slot::ofList({sounds[1]});
    SoundTheme theme("Variants", table);

    std::vector<int> seen(levels.size());
    int repeats = 0, previous = -1;
    for (int play = 0; play < 60; ++play) {
        const float p = test::playedPeak([&] { theme.playSoundForKeyCode(10, 1); });
        int best = 0;
        for (size_t i = 1; i < peaks.size(); ++i)
            if (std::fabs(peaks[i] - p) < std::fabs(peaks[best] - p))
                best = static_cast<int>(i);
        ASSERT_NEAR(p, peaks[best], 0.02f);
        ++seen[best];
        repeats += best == previous;
        previous = best;
    }
    for (int count : seen)
        EXPECT_GT(count, 0);
    EXPECT_GT(repeats, 0) << "picks are independent, so repeats happen";
    for (int play = 0; play < 5; ++play)
        EXPECT_NEAR(test::playedPeak([&] { theme.playSoundForKeyCode(11, 1); }), peaks[1], 0.02f);
}

TEST_F(SoundThemeTest, FastTypingOverlapsAndNeverRunsOutOfVoices) {
    auto s = sound("overlap.wav", 0.2f);
    const float single = test::playedPeak([&] { s->play(); });
    for (int i = 0; i < 4; ++i)
        s->play();
    EXPECT_NEAR(test::peak(test::render(2400)), 4 * single, 0.05f);
    test::drain();
    // More plays than voices: the oldest are cut, nothing fails.
    for (int i = 0; i < AudioEngine::kVoices + 20; ++i)
        s->play();
    EXPECT_EQ(AudioEngine::sharedInstance().playingVoices(), AudioEngine::kVoices);
    test::drain();
}

TEST_F(SoundThemeTest, AllFourFileTypesDecode) {
    for (auto [name, format] : std::vector<std::pair<QString, int>>{{"t.aif", test::kAiff},
                                                                    {"t.aiff", test::kAiff},
                                                                    {"t.wav", test::kWav},
                                                                    {"t.caf", test::kCaf}}) {
        auto s = test::scratchSound(name, 0.5f, format);
        ASSERT_TRUE(s) << name.toStdString();
        EXPECT_GT(test::playedPeak([&] { s->play(); }), 0.1f);
    }
}

TEST_F(SoundThemeTest, UndecodableFilesGiveTheCreationErrorAndNoSound) {
    LogCapture cap;
    // A CAF holding IMA4, as macOS often writes: libsndfile cannot decode it.
    QByteArray caf("caff\x00\x01\x00\x00", 8);
    caf += QByteArray("desc\0\0\0\0\0\0\0\x20", 12);
    caf += QByteArray("\x40\xE5\x88\x80\0\0\0\0ima4\0\0\0\0\0\0\0\x22\0\0\0\x40\0\0\0\x01\0\0\0\0",
                      32);
    caf += QByteArray("data\0\0\0\0\0\0\0\x26\0\0\0\0", 16) + QByteArray(34, '\x11');
    const QString cafPath = QDir(test::scratchDir()).filePath("ima4.caf");
    ASSERT_TRUE(test::writeFile(cafPath, caf));
    EXPECT_FALSE(Sound::initWithContentsOfURL(QUrl::fromLocalFile(cafPath)));
    EXPECT_TRUE(cap.contains("Error 1954115647 creating system sound for ima4.caf"));

    EXPECT_FALSE(Sound::initWithContentsOfURL(QUrl::fromLocalFile("/nonexistent/x.wav")));
    EXPECT_TRUE(cap.contains("Error -43 creating system sound for x.wav"));

    // A FIFO must not block the loader.
    const QString fifo = QDir(test::scratchDir()).filePath("fifo.wav");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(Sound::initWithContentsOfURL(QUrl::fromLocalFile(fifo)));
    EXPECT_TRUE(cap.contains("creating system sound for fifo.wav"));
    EXPECT_EQ(cap.lines().size(), 3u);
}

TEST_F(SoundThemeTest, InitWithNamePrefersTheEarlierType) {
    ASSERT_TRUE(
        test::writeTone(QDir(test::resourceDir()).filePath("pair.aiff"), 0.5f, 2400, test::kAiff));
    ASSERT_TRUE(test::writeTone(QDir(test::resourceDir()).filePath("pair.wav"), 0.5f));
    auto s = Sound::soundNamed("pair");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->url().path().endsWith("pair.aiff"));
    EXPECT_EQ(s->name(), "pair.aiff");
    LogCapture cap;
    EXPECT_FALSE(Sound::soundNamed("no-such-sound"));
    EXPECT_TRUE(cap.lines().empty());
}

TEST_F(SoundThemeTest, TransientSoundTravelsInTheArchiveAndItsFileGoesWithIt) {
    auto original = sound("transient.wav", 0.5f);
    original->setTransient(true);
    EXPECT_TRUE(original->description().contains("transient = YES"));
    auto referenced = sound("referenced.wav", 0.25f);
    auto table = test::emptyTable();
    table[1][0] = Slot::of(original);
    table[1][1] = Slot::of(referenced);
    const QByteArray bytes = SoundTheme("Transient", table).archivedData();

    QString error;
    NodePtr root = archive::decodeArchive(bytes, error);
    ASSERT_TRUE(root) << error.toStdString();
    auto loaded = SoundTheme::initWithCoder(*root, error);
    ASSERT_TRUE(loaded) << error.toStdString();
    auto copy = loaded->sounds()[1][0].single.sound;
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->transient());
    const QFileInfo file(copy->url().toLocalFile());
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(file.fileName())
                    .hasMatch())
        << file.fileName().toStdString();
    // In the run's own folder of the temporary directory.
    EXPECT_EQ(file.absolutePath(), TemporaryFolder::path());
    EXPECT_EQ(file.permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    EXPECT_EQ(test::readFile(copy->url().toLocalFile()),
              test::readFile(original->url().toLocalFile()));
    EXPECT_NEAR(test::playedPeak([&] { loaded->playSoundForKeyCode(0, 1); }),
                test::playedPeak([&] { original->play(); }), 0.01f);

    // The referenced sound keeps its URL.
    EXPECT_EQ(loaded->sounds()[1][1].single.sound->url(), referenced->url());
    EXPECT_FALSE(loaded->sounds()[1][1].single.sound->transient());

    // Every load writes a new file; releasing the theme removes it.
    auto again = SoundTheme::initWithCoder(*root, error);
    const QString secondFile = again->sounds()[1][0].single.sound->url().toLocalFile();
    EXPECT_NE(secondFile, file.absoluteFilePath());
    const int before = AudioEngine::sharedInstance().liveSounds();
    copy.reset();
    loaded.reset();
    EXPECT_FALSE(QFileInfo::exists(file.absoluteFilePath()));
    EXPECT_TRUE(QFileInfo::exists(secondFile));
    EXPECT_EQ(AudioEngine::sharedInstance().liveSounds(), before - 2);
}

TEST_F(SoundThemeTest, ThemeRoundTripKeepsNameShapeContentsAndSharing) {
    auto a = sound("a.wav", 0.2f), b = sound("b.wav", 0.4f), c = sound("c.wav", 0.6f);
    auto table = test::emptyTable();
    table[1][0] = Slot::of(a);
    table[0][0] = Slot::of(b);
    table[1][49] = Slot::ofList({a, b, c});
    table[2][254] = Slot::of(c);
    SoundTheme theme("Round Trip ✓", table);
    const QByteArray bytes = theme.archivedData();
    EXPECT_EQ(bytes, theme.archivedData()) << "writing twice gives the same bytes";

    QString error;
    NodePtr root = archive::decodeArchive(bytes, error);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->field("version")->value->integer, 1);
    EXPECT_FALSE(root->field("version")->isReference);
    QString why;
    EXPECT_TRUE(archive::sameGraph(root, theme.encodeWithCoder(), &why)) << why.toStdString();

    auto loaded = SoundTheme::initWithCoder(*root, error);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->name(), "Round Trip ✓");
    ASSERT_EQ(loaded->sounds().size(), 3u);
    int filled = 0;
    for (int r = 0; r < 3; ++r) {
        ASSERT_EQ(loaded->sounds()[r].size(), 255u);
        for (int k = 0; k < 255; ++k)
            filled += loaded->sounds()[r][k].kind != Slot::Kind::Null;
    }
    EXPECT_EQ(filled, 4);
    const auto& list = loaded->sounds()[1][49];
    ASSERT_EQ(list.kind, Slot::Kind::List);
    ASSERT_EQ(list.list.size(), 3u);
    EXPECT_EQ(list.list[2].sound->name(), "c.wav");
    // "a" was archived once, so it loads as one sound.
    EXPECT_EQ(list.list[0].sound.get(), loaded->sounds()[1][0].single.sound.get());
    EXPECT_EQ(loaded->sounds()[2][254].single.sound->name(), "c.wav");
}

TEST_F(SoundThemeTest, MalformedThemesAreRefusedWithAReason) {
    auto themeWith = [](NodePtr sounds, NodePtr name) {
        auto root = Node::makeObject({"SoundTheme", "NSObject"});
        root->fields.emplace_back("version", archive::Field::integer(1));
        root->fields.emplace_back("sounds", archive::Field::reference(sounds));
        root->fields.emplace_back("name", archive::Field::reference(name));
        return archive::encodeArchive(root);
    };
    auto null = Node::makeNull();
    auto row = [&](size_t n) {
        return Node::makeArray(std::vector<NodePtr>(n, null));
    };
    auto name = Node::makeString("Bad");
    auto badSound = Node::makeObject({"Sound", "NSObject"});
    badSound->fields.emplace_back("name", archive::Field::reference(Node::makeString("x")));
    badSound->fields.emplace_back("transient", archive::Field::reference(Node::makeString("YES")));
    auto cells = std::vector<NodePtr>(255, null);
    cells[3] = badSound;

    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {archive::encodeArchive(Node::makeArray({})), "not a sound theme"},
        {themeWith(Node::makeArray({row(255), row(255)}), name), "2 rows"},
        {themeWith(Node::makeArray({row(255), row(254), row(255)}), name), "255 slots"},
        {themeWith(Node::makeString("table"), name), "not an array"},
        {themeWith(Node::makeArray({row(255), row(255), row(255)}), Node::makeArray({})), "name"},
        {themeWith(Node::makeArray({row(255), Node::makeArray(cells), row(255)}), name),
         "transient"},
        {"just some text, long enough to look like a file of some sort",
         "not a binary property list"},
    };
    const QString path = QDir(test::scratchDir()).filePath("malformed.snth");
    for (const auto& [bytes, expected] : cases) {
        ASSERT_TRUE(test::writeFile(path, bytes));
        QString error;
        EXPECT_FALSE(SoundTheme::unarchiveObjectWithFile(path, error));
        EXPECT_TRUE(error.contains(QLatin1String(expected))) << error.toStdString();
    }
    QString error;
    EXPECT_FALSE(SoundTheme::unarchiveObjectWithFile("/nonexistent.snth", error));
}

// The engine refuses the interface-sound flag: logged, and the sound still plays.
class FlagRefusingService : public SystemSoundService {
public:
    int32_t createSound(const QString& path, uint32_t* id) override {
        return AudioEngine::sharedInstance().createSound(path, id);
    }
    int32_t setUISound(uint32_t, uint32_t) override { return kParamErr; }
    void play(uint32_t id) override { AudioEngine::sharedInstance().play(id); }
    void dispose(uint32_t id) override { AudioEngine::sharedInstance().dispose(id); }
};

TEST_F(SoundThemeTest, FlagFailureIsLoggedAndTheSoundStaysUsable) {
    const QString path = test::scratchTone("flag.wav", 0.5f);
    FlagRefusingService refusing;
    LogCapture cap;
    SystemSoundService* previous = SystemSoundService::install(&refusing);
    auto s = Sound::initWithContentsOfURL(QUrl::fromLocalFile(path));
    SystemSoundService::install(previous);
    ASSERT_TRUE(s);
    EXPECT_TRUE(cap.contains("Error -50 setting system sound flag for flag.wav"));
    EXPECT_EQ(cap.lines().size(), 1u);
    EXPECT_GT(test::playedPeak([&] { s->play(); }), 0.2f);
}

} // namespace
