#include "AudioServer.h" // readSoundFile
#include "SoundTestSupport.h"
#include "ToolRun.h"
#include "sound/KeyedArchive.h"
#include "sound/SoundTheme.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <set>

using namespace orvix;
using Slot = SoundTheme::Slot;
using test::readFile;
using test::ToolRun;

namespace {

ToolRun snth(const QStringList& args) {
    return test::runTool(test::builtProgram(QStringLiteral("orvix-snth")), args);
}

class ThemeToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::useLoopback(); }
    void SetUp() override {
        dir = QDir(test::scratchDir())
                  .filePath(QString::fromLatin1(
                      ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
    }
    QString path(const QString& name) const { return QDir(dir).filePath(name); }
    QString dir;
};

TEST_F(ThemeToolTest, CreateInfoExtractAndRecreateGiveTheSameTheme) {
    ASSERT_TRUE(test::writeTone(path("down 1.wav"), 0.3f));
    ASSERT_TRUE(test::writeTone(path("down2.aiff"), 0.4f, 2400, test::kAiff));
    ASSERT_TRUE(test::writeTone(path("up.wav"), 0.2f));
    ASSERT_TRUE(test::writeTone(path("space.caf"), 0.5f, 2400, test::kCaf));
    ASSERT_TRUE(test::writeFile(path("theme.txt"), "# a test theme\n"
                                                   "press *        \"down 1.wav\" down2.aiff\n"
                                                   "press 49       space.caf\n"
                                                   "release 0-48,50 up.wav\n"
                                                   "2 7            link:up.wav\n"));
    const ToolRun created =
        snth({"create", "--name", "Tool Theme", "-o", path("a.snth"), path("theme.txt")});
    ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    ASSERT_EQ(
        snth({"create", "--name", "Tool Theme", "-o", path("b.snth"), path("theme.txt")}).exitCode,
        0);
    EXPECT_EQ(readFile(path("a.snth")), readFile(path("b.snth"))) << "same theme, same bytes";

    QString error;
    auto theme = SoundTheme::unarchiveObjectWithFile(path("a.snth"), error);
    ASSERT_TRUE(theme) << error.toStdString();
    EXPECT_EQ(theme->name(), "Tool Theme");
    const auto& rows = theme->sounds();
    EXPECT_EQ(rows[1][0].kind, Slot::Kind::List);
    EXPECT_EQ(rows[1][254].list.size(), 2u);
    EXPECT_EQ(rows[1][49].single.sound->name(), "space.caf");
    EXPECT_TRUE(rows[1][49].single.sound->transient());
    EXPECT_EQ(rows[0][49].kind, Slot::Kind::Null);
    EXPECT_EQ(rows[0][50].single.sound->name(), "up.wav");
    EXPECT_FALSE(rows[2][7].single.sound->transient());
    EXPECT_EQ(rows[2][7].single.sound->url().toLocalFile(), path("up.wav"));

    const ToolRun info = snth({"info", path("a.snth")});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_TRUE(info.out.contains("Name: Tool Theme"));
    EXPECT_TRUE(info.out.contains("5 distinct, 4 embedded")) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains("State 1 (press): 255 keys, 254 with variants"));

    const ToolRun extracted = snth({"extract", path("a.snth"), path("out")});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err.toStdString();
    EXPECT_EQ(readFile(path("out/space.caf")), readFile(path("space.caf")));
    EXPECT_EQ(readFile(path("out/down 1.wav")), readFile(path("down 1.wav")));
    ASSERT_EQ(
        snth({"create", "--name", "Tool Theme", "-o", path("c.snth"), path("out/manifest.txt")})
            .exitCode,
        0);
    archive::NodePtr a = archive::decodeArchive(readFile(path("a.snth")), error);
    archive::NodePtr c = archive::decodeArchive(readFile(path("c.snth")), error);
    ASSERT_TRUE(a && c);
    QString why;
    EXPECT_TRUE(archive::sameGraph(a, c, &why)) << why.toStdString();
}

TEST_F(ThemeToolTest, VerifyAndBadInputAnswerWithOneLine) {
    ASSERT_TRUE(test::writeTone(path("k.wav"), 0.3f));
    ASSERT_TRUE(test::writeTone(path("gone.wav"), 0.3f));
    ASSERT_TRUE(test::writeFile(path("m.txt"), "press 0 k.wav\nrelease 0 link:gone.wav\n"));
    ASSERT_EQ(snth({"create", "--name", "V", "-o", path("v.snth"), path("m.txt")}).exitCode, 0);
    const ToolRun good = snth({"verify", path("v.snth")});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_TRUE(good.err.isEmpty() && good.out.isEmpty());

    ASSERT_TRUE(QFile::remove(path("gone.wav")));
    const ToolRun missing = snth({"verify", path("v.snth")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.count('\n'), 1) << missing.err.toStdString();
    EXPECT_TRUE(missing.err.contains("1 sound(s) cannot be decoded"));

    QByteArray bytes = readFile(path("v.snth"));
    ASSERT_TRUE(test::writeFile(path("cut.snth"), bytes.left(bytes.size() / 2)));
    const ToolRun cut = snth({"verify", path("cut.snth")});
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.err.count('\n'), 1) << cut.err.toStdString();

    ASSERT_TRUE(test::writeFile(path("bad.txt"), "press 300 k.wav\n"));
    const ToolRun badManifest =
        snth({"create", "--name", "B", "-o", path("b.snth"), path("bad.txt")});
    EXPECT_EQ(badManifest.exitCode, 1);
    EXPECT_TRUE(badManifest.err.contains("line 1")) << badManifest.err.toStdString();
    ASSERT_TRUE(test::writeFile(path("nodecode.txt"), "press 3 m.txt\n"));
    EXPECT_EQ(snth({"create", "--name", "B", "-o", path("b.snth"), path("nodecode.txt")}).exitCode,
              1);
    EXPECT_FALSE(QFileInfo::exists(path("b.snth")));
    EXPECT_EQ(snth({"frobnicate"}).exitCode, 2);
}

// The themes that ship with the program: complete, decodable, varied.
TEST_F(ThemeToolTest, ShippedThemesAreCompleteAndPlay) {
    const QDir shipped(QStringLiteral(ORVIX_TEST_SOURCE_DIR "/resources/bundle/SoundThemes"));
    const QStringList files = shipped.entryList({"*.snth"}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 3);
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_LE(QFileInfo(shipped.filePath(file)).size(), 400 * 1024);
        EXPECT_EQ(snth({"verify", shipped.filePath(file)}).exitCode, 0);
        QString error;
        auto theme = SoundTheme::unarchiveObjectWithFile(shipped.filePath(file), error);
        ASSERT_TRUE(theme) << error.toStdString();
        EXPECT_EQ(theme->name(), QFileInfo(file).completeBaseName());
        EXPECT_EQ(theme->failedSounds(), 0);

        auto soundsOf = [&](int state, int code) {
            std::set<const Sound*> set;
            const Slot& slot = theme->sounds()[state][code];
            if (slot.kind == Slot::Kind::Single)
                set.insert(slot.single.sound.get());
            for (const auto& e : slot.list)
                set.insert(e.sound.get());
            return set;
        };
        // Letters have several variants; press and release differ.
        EXPECT_GE(soundsOf(1, 0).size(), 3u);
        EXPECT_GE(soundsOf(0, 0).size(), 2u);
        for (int code : {0, 49, 36, 51, 55}) {
            ASSERT_FALSE(soundsOf(1, code).empty()) << code;
            ASSERT_FALSE(soundsOf(0, code).empty()) << code;
            EXPECT_NE(soundsOf(1, code), soundsOf(0, code)) << code;
        }
        // Space, Return, Delete and the modifiers each have sounds of their own.
        std::set<std::set<const Sound*>> groups;
        for (int code : {0, 49, 36, 51, 55})
            groups.insert(soundsOf(1, code));
        EXPECT_EQ(groups.size(), 5u);
        EXPECT_EQ(soundsOf(1, 56), soundsOf(1, 55)) << "all modifiers sound alike";

        test::drain();
        for (int code : {0, 49, 36, 51, 55}) {
            theme->playSoundForKeyCode(code, 1);
            EXPECT_GT(test::peak(test::render(14400)), 0.1f) << code;
            test::drain();
        }
    }
    // The keep-alive's sound (16-bit at 44.1 kHz): inaudible but not pure digital silence.
    EXPECT_EQ(test::peak(test::readSoundFile(ORVIX_TEST_SOURCE_DIR "/resources/bundle/silence.wav",
                                             44100)),
              1.0f / 32768);
}

} // namespace
