#include "ToolRun.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace orvix::test;

class OrvixRenderTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFile::exists(builtProgram(QStringLiteral("orvix-render"))))
            GTEST_SKIP() << "orvix-render is not built";
        ASSERT_TRUE(dir.isValid());
    }
    // Runs the tool; `-o NAME` arguments are made paths in the test's directory.
    ToolRun run(QStringList args) {
        for (int i = 1; i < args.size(); ++i)
            if (args[i - 1] == "-o")
                args[i] = file(args[i]);
        return runTool(builtProgram(QStringLiteral("orvix-render")), args);
    }
    QString file(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(OrvixRenderTool, BadArgumentsGiveUsageAndStatusTwo) {
    const QStringList bad[] = {
        {},
        {"bogus"},
        {"keyboard"},                                   // no output
        {"keyboard", "-o"},                             // option without value
        {"keyboard", "--look", "shiny", "-o", "x.png"}, // unknown look
        {"keyboard", "--scale", "0", "-o", "x.png"},    // scale out of range
        {"keyboard", "--scale", "nan", "-o", "x.png"},
        {"keyboard", "--theme", "two", "-o", "x.png"},
        {"keyboard", "-o", "x.pdf"},   // keyboard is PNG only
        {"key", "-o", "x.png"},        // no code
        {"key", "128", "-o", "x.png"}, // not a key code
        {"key", "3", "-o", "x.bmp"},
        {"key", "3", "--frobnicate", "1", "-o", "x.png"},
    };
    for (const QStringList& args : bad) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("usage:")) << args.join(' ').toStdString();
    }
}

TEST_F(OrvixRenderTool, DrawsTheKeyboardAndOneKeyInEachFormat) {
    ASSERT_EQ(run({"keyboard", "-o", "kb1.png"}).exitCode, 0);
    ASSERT_EQ(run({"keyboard", "--theme", "1", "--look", "hover", "--scale", "2", "-o", "kb.png"})
                  .exitCode,
              0);
    const QImage one(file("kb1.png")), two(file("kb.png"));
    ASSERT_FALSE(one.isNull());
    EXPECT_NEAR(two.width(), 2 * one.width(), 1);
    EXPECT_NEAR(two.height(), 2 * one.height(), 1);
    EXPECT_GT(one.width(), one.height());

    ASSERT_EQ(run({"key", "0", "--scale", "3", "-o", "a.png"}).exitCode, 0);
    EXPECT_EQ(QImage(file("a.png")).size(), QSize(156, 156));
    ASSERT_EQ(run({"key", "36", "--look", "pressed", "-o", "a.pdf"}).exitCode, 0);
    EXPECT_TRUE(readFile(file("a.pdf")).startsWith("%PDF"));
    ASSERT_EQ(run({"key", "126", "--theme", "5", "-o", "a.svg"}).exitCode, 0);
    const QByteArray svg = readFile(file("a.svg"));
    EXPECT_TRUE(svg.contains("<svg"));
    EXPECT_TRUE(svg.contains("<path")); // vectors, not only a bitmap

    const ToolRun unwritable = run({"key", "0", "-o", "missing/dir/a.png"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_TRUE(unwritable.err.contains("cannot write"));
}

// The committed legend outlines must match a fresh run of their generator.
TEST(LegendGenerator, CommittedDataMatchesAFreshRun) {
    const QString generator = builtProgram(QStringLiteral("legendgen"));
    const QString font = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    if (!QFile::exists(generator) || !QFile::exists(font))
        GTEST_SKIP() << "legendgen or its font is not here";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("LegendData.cpp"));
    ASSERT_EQ(runTool(generator, {"--font", font, "-o", out}).exitCode, 0);
    const QByteArray fresh = readFile(out);
    ASSERT_FALSE(fresh.isEmpty());
    EXPECT_TRUE(fresh ==
                readFile(QStringLiteral(ORVIX_TEST_SOURCE_DIR "/src/render/LegendData.cpp")));
}
