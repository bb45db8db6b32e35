#include "settings/Defaults.h"

#include "LogCapture.h"
#include "ToolRun.h"
#include "settings/Settings.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

class DefaultsTest : public ::testing::Test {
protected:
    QString path() const { return dir.path() + QStringLiteral("/Orvix/Orvix.conf"); }
    void writeFile(const QByteArray& contents) {
        QDir().mkpath(dir.path() + QStringLiteral("/Orvix"));
        ASSERT_TRUE(test::writeFile(path(), contents));
    }
    std::unique_ptr<Defaults> load() {
        auto d = std::make_unique<Defaults>(path());
        settings::registerDefaults(*d);
        return d;
    }
    QTemporaryDir dir;
};

// The transparencies, sound theme, theme, menu-bar icon and update check read
// as their registered defaults: UnreadableValuesReadAsTheirDefaults.
TEST_F(DefaultsTest, EmptyDatabaseReadsRegisteredDefaults) {
    auto d = load();
    EXPECT_TRUE(d->boolForKey(settings::kModifyKeyEvents));
    EXPECT_FALSE(d->boolForKey(settings::kModifyMouseEvents));
    EXPECT_TRUE(d->boolForKey(settings::kSendProfileInfo));
    // Keys without a registered default stay absent until their users write them.
    for (const QString& key : {settings::kMoveAlertSuppress, settings::kFeedbackFirstUsed,
                               settings::kFeedbackLastVersionUsed, settings::kFeedbackPrompted,
                               settings::kFeedbackSuppress}) {
        EXPECT_FALSE(d->objectForKey(key).isValid()) << qPrintable(key);
        EXPECT_FALSE(d->boolForKey(key));
    }
}

TEST_F(DefaultsTest, StoredValuesSurviveReload) {
    {
        auto d = load();
        d->setFloat(0.25, settings::kInactiveTransparency);
        d->setInteger(3, settings::kTheme);
        d->setObject(QStringLiteral("Typewriter"), settings::kSoundTheme);
        d->setBool(false, settings::kShowInMenuBar);
    }
    auto d = load();
    EXPECT_DOUBLE_EQ(d->floatForKey(settings::kInactiveTransparency), 0.25);
    EXPECT_EQ(d->integerForKey(settings::kTheme), 3);
    EXPECT_EQ(d->stringForKey(settings::kSoundTheme), QStringLiteral("Typewriter"));
    EXPECT_FALSE(d->boolForKey(settings::kShowInMenuBar));
}

// A value from the command line wins for this run and never reaches the file,
// also when the program writes the key meanwhile.
TEST_F(DefaultsTest, ArgumentValueOverridesForThisRunOnly) {
    const QString key = QStringLiteral("InputBackend");
    writeFile("[General]\nInputBackend=x11\nTheme=2\n");
    {
        auto d = load();
        d->setArgumentValue(QStringLiteral("evdev"), key);
        d->setArgumentValue(4, settings::kTheme);
        EXPECT_EQ(d->stringForKey(key), QStringLiteral("evdev"));
        EXPECT_EQ(d->integerForKey(settings::kTheme), 4);
        d->setObject(QStringLiteral("auto"), key);
        EXPECT_EQ(d->stringForKey(key), QStringLiteral("evdev"));
    }
    auto again = load();
    EXPECT_EQ(again->stringForKey(key), QStringLiteral("auto"));
    EXPECT_EQ(again->integerForKey(settings::kTheme), 2);
}

TEST_F(DefaultsTest, UnreadableValuesReadAsTheirDefaults) {
    writeFile("[General]\n"
              "ActiveTransparency=lots\n"
              "InactiveTransparency=nan\n"
              "Theme=purple\n"
              "ShowInMenuBar=maybe\n"
              "CheckForUpdates=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x18)\n"
              "SoundTheme=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n");
    auto d = load();
    EXPECT_DOUBLE_EQ(settings::transparency(*d, settings::kActiveTransparency), 1.0);
    EXPECT_DOUBLE_EQ(settings::transparency(*d, settings::kInactiveTransparency), 0.5);
    EXPECT_EQ(d->integerForKey(settings::kTheme), 0);
    EXPECT_TRUE(d->boolForKey(settings::kShowInMenuBar));
    EXPECT_TRUE(d->boolForKey(settings::kCheckForUpdates));
    EXPECT_EQ(d->stringForKey(settings::kSoundTheme), QStringLiteral("Off"));
}

TEST_F(DefaultsTest, TransparenciesAreClampedToAlphaRangeAndTheActiveOneStaysVisible) {
    auto d = load();
    const struct {
        const QString& key;
        const char* stored;
        double read;
    } cases[] = {
        {settings::kActiveTransparency, "7.5", 1.0}, {settings::kActiveTransparency, "0.5", 0.5},
        {settings::kActiveTransparency, "0", 0.2},   {settings::kActiveTransparency, "0.05", 0.2},
        {settings::kActiveTransparency, "-2", 0.2},  {settings::kInactiveTransparency, "-2", 0.0},
        {settings::kInactiveTransparency, "0", 0.0}, {settings::kInactiveTransparency, "0.3", 0.3},
    };
    for (const auto& c : cases) {
        d->setObject(QString::fromLatin1(c.stored), c.key);
        EXPECT_DOUBLE_EQ(settings::transparency(*d, c.key), c.read)
            << qPrintable(c.key) << "=" << c.stored;
    }
}

TEST_F(DefaultsTest, NumbersReadAcrossTypes) {
    // Other writers may store "YES", "1" or "2.0"; they read as the intended values.
    writeFile("[General]\nShowInMenuBar=NO\nCheckForUpdates=0\nTheme=2.0\n"
              "ModifyMouseEventsWithVirtualKeyboardStateKey=YES\n");
    auto d = load();
    EXPECT_FALSE(d->boolForKey(settings::kShowInMenuBar));
    EXPECT_FALSE(d->boolForKey(settings::kCheckForUpdates));
    EXPECT_EQ(d->integerForKey(settings::kTheme), 2);
    EXPECT_TRUE(d->boolForKey(settings::kModifyMouseEvents));
    EXPECT_FALSE(Defaults::parseInteger(QStringLiteral("1e300")).has_value());
    EXPECT_FALSE(Defaults::parseFloat(QStringLiteral("inf")).has_value());
}

TEST_F(DefaultsTest, UnreadableFileIsSetAsideAndDefaultsApply) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 131 + 7) % 256));
    writeFile(garbage);
    test::LogCapture log;
    auto d = load();
    EXPECT_DOUBLE_EQ(settings::transparency(*d, settings::kInactiveTransparency), 0.5);
    d->setInteger(4, settings::kTheme);
    d->synchronize();
    EXPECT_TRUE(log.contains("could not be read; kept it as"));
    // The original bytes survive beside the new settings file.
    const QStringList files = QDir(dir.path() + QStringLiteral("/Orvix"))
                                  .entryList({"Orvix.conf.unreadable-*"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(test::readFile(dir.path() + QStringLiteral("/Orvix/") + files.first()), garbage);
    EXPECT_EQ(load()->integerForKey(settings::kTheme), 4);
}

TEST_F(DefaultsTest, SettingsTextRecognition) {
    EXPECT_TRUE(Defaults::isReadableSettingsText(""));
    EXPECT_TRUE(
        Defaults::isReadableSettingsText("[General]\n; note\nTheme=2\n\nkeyboard=1 2 3 4\n"));
    EXPECT_FALSE(Defaults::isReadableSettingsText("[General]\nTheme\n"));
    EXPECT_FALSE(Defaults::isReadableSettingsText("=value\n"));
    EXPECT_FALSE(Defaults::isReadableSettingsText(QByteArray("Theme=1\0", 8)));
    EXPECT_FALSE(Defaults::isReadableSettingsText("Theme=\xff\xfe\n"));
}

TEST_F(DefaultsTest, EveryWriteAnnouncesItsKey) {
    auto d = load();
    QSignalSpy spy(d.get(), &Defaults::changed);
    d->setFloat(0.8, settings::kActiveTransparency);
    d->removeObject(settings::kActiveTransparency);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), settings::kActiveTransparency);
    EXPECT_DOUBLE_EQ(d->floatForKey(settings::kActiveTransparency), 1.0);
}

} // namespace
