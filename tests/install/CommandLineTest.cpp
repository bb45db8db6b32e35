// orvix, orvix-snth and orvix-render run from a console: no display, no session.
#include "BuildInfo.h"
#include "TempHome.h"
#include "ToolRun.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <unistd.h>

using orvix::test::builtProgram;
using orvix::test::readFile;
using orvix::test::runTool;
using orvix::test::ToolRun;

namespace {

constexpr const char* kNeedsDisplay = "Orvix needs an X11 session, or Wayland with XWayland";

// A console: no display of any kind, and a home of its own.
class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
            env.remove(name);
        ASSERT_TRUE(QDir().mkpath(home.file(".config/Orvix")));
    }
    ToolRun run(const char* program, const QStringList& arguments) const {
        return runTool(builtProgram(QString::fromLatin1(program)), arguments, env, 30000);
    }
    QString settingsPath() const { return home.file(".config/Orvix/Orvix.conf"); }

    orvix::test::TempHome home{true};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(CommandLineTest, HelpAndVersionNeedNoDisplay) {
    const QString version = QString::fromLatin1(orvix::buildinfo::kShortVersion);
    struct Case {
        const char* program;
        const char* option;
        const char* mustContain;
    } cases[] = {
        {"orvix", "--help", "--reset-settings"},
        {"orvix", "--help", "--input-backend auto|evdev|wayland|x11"},
        {"orvix-snth", "--help", "orvix-snth verify FILE"},
        {"orvix-render", "--help", "orvix-render keyboard"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.option);
        const ToolRun r = run(c.program, {c.option});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.mustContain)) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    for (const char* program : {"orvix", "orvix-snth", "orvix-render"}) {
        const ToolRun r = run(program, {"--version"});
        EXPECT_EQ(r.exitCode, 0) << program;
        EXPECT_EQ(r.out, QStringLiteral("%1 %2\n").arg(QString::fromLatin1(program), version));
    }
}

TEST_F(CommandLineTest, WithoutAUsableDisplayOneLineAndStatusOne) {
    struct Case {
        const char* display; // nullptr: not set
        QStringList arguments;
        const char* reason;
    } cases[] = {
        {nullptr, {}, "(DISPLAY is not set)"},
        {"", {}, "(DISPLAY is not set)"},
        {":65531", {}, "(cannot open display :65531)"},
        {nullptr, {"-display", ":65532"}, "(cannot open display :65532)"},
        // A valid backend is taken; the display is still what stops it.
        {nullptr, {"--input-backend", "evdev"}, "(DISPLAY is not set)"},
        {nullptr, {"--input-backend=x11"}, "(DISPLAY is not set)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() +
                     " DISPLAY=" + (c.display ? c.display : "(unset)"));
        if (c.display)
            env.insert("DISPLAY", c.display);
        else
            env.remove("DISPLAY");
        const ToolRun r = run("orvix", c.arguments);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, QStringLiteral("%1 %2\n").arg(QLatin1String(kNeedsDisplay),
                                                       QLatin1String(c.reason)));
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(settingsPath())) << "nothing written without a display";
    }
}

TEST_F(CommandLineTest, MisusedOptionsGiveStatusTwo) {
    const QStringList bad[] = {
        {"--bogus"},          {"stray"},    {"--input-backend"}, {"--input-backend", "uinput"},
        {"--input-backend="}, {"-display"},
    };
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ToolRun r = run("orvix", arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.startsWith("orvix: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Try 'orvix --help'"));
    }
}

TEST_F(CommandLineTest, ResetSettingsMovesTheFileAsideAndKeepsIt) {
    const ToolRun none = run("orvix", {"--reset-settings"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_TRUE(none.out.contains("No settings to reset"));

    const QByteArray mine = "[General]\nTheme=3\nkeyboard=10 20 600 200\n";
    // Two resets in one second must not overwrite the first file set aside.
    QStringList asides;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(orvix::test::writeFile(settingsPath(), mine + QByteArray::number(round)));
        const ToolRun r = run("orvix", {"--reset-settings"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const auto m = QRegularExpression("^Settings moved to (\\S+);").match(r.out);
        ASSERT_TRUE(m.hasMatch()) << r.out.toStdString();
        asides << m.captured(1);
        EXPECT_TRUE(asides.last().startsWith(settingsPath() + ".reset-"));
        EXPECT_EQ(readFile(asides.last()), mine + QByteArray::number(round));
        EXPECT_FALSE(QFileInfo::exists(settingsPath()));
    }
    EXPECT_NE(asides[0], asides[1]);
    EXPECT_EQ(readFile(asides[0]), mine + "0");
}

TEST_F(CommandLineTest, ResetSettingsRefusesWhileOrvixRuns) {
    // A running copy listens at its single-instance endpoint.
    const int fd =
        orvix::test::bindUnixSocket(home.runtimeDir() + "/org.orvix.orvix.instance", true);
    ASSERT_GE(fd, 0);

    const QByteArray mine = "[General]\nTheme=2\n";
    ASSERT_TRUE(orvix::test::writeFile(settingsPath(), mine));
    const ToolRun r = run("orvix", {"--reset-settings"});
    ::close(fd);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Orvix is running")) << r.err.toStdString();
    EXPECT_EQ(readFile(settingsPath()), mine);
}

} // namespace
