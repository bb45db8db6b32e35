#include "platform/CrashReporter.h"

#include "TempHome.h"
#include "platform/AppAdditions.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QUrlQuery>
#include <csignal>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

QString crashChild() {
    return QStringLiteral(ORVIX_TEST_BINARY_DIR "/bin/platform_crash_child");
}

// Runs the child until it crashes; answers the report it left.
QString crashAndRead(const QString& folder, const char* how, int* exitStatus = nullptr) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "handle_segv=0:handle_abort=0:detect_leaks=0");
    child.setProcessEnvironment(env);
    child.start(crashChild(), {folder, how});
    child.waitForFinished(30000);
    if (exitStatus)
        *exitStatus = child.exitStatus();
    const QStringList reports = CrashReporter::pendingReports(folder);
    if (reports.isEmpty())
        return {};
    QFile f(reports.first());
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

} // namespace

TEST(CrashReporterTest, RealCrashLeavesAReport) {
    test::TempHome home;
    const QString folder = home.file("reports");
    int status = -1;
    const QString report = crashAndRead(folder, "segv", &status);
    EXPECT_EQ(status, QProcess::CrashExit); // the signal still ends the process
    ASSERT_FALSE(report.isEmpty());
    EXPECT_TRUE(report.startsWith(
        "Orvix crash report\nVersion: " + AppAdditions::applicationShortVersionString() + " (" +
        AppAdditions::applicationVersion() + ")\nSystem: "));
    EXPECT_NE(report.indexOf("Signal: 11 (SIGSEGV)\nFault address: 0x0\n"), -1)
        << report.toStdString();
    EXPECT_NE(report.indexOf(
                  QRegularExpression("Time: 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC\n")),
              -1);
    const QString backtrace = report.section("Backtrace:\n", 1);
    EXPECT_GE(backtrace.count('\n'), 3) << report.toStdString();
    EXPECT_EQ(report.indexOf("SECRET-TYPED-TEXT"), -1);
    const QFile::Permissions perms =
        QFile::permissions(CrashReporter::pendingReports(folder).first());
    EXPECT_FALSE(perms & (QFile::ReadGroup | QFile::ReadOther));
}

TEST(CrashReporterTest, AbortAndStackOverflowAreReportedToo) {
    test::TempHome home;
    EXPECT_NE(crashAndRead(home.file("a"), "abort").indexOf("Signal: 6 (SIGABRT)"), -1);
    const QString overflow = crashAndRead(home.file("b"), "overflow");
    EXPECT_NE(overflow.indexOf("Signal: 11 (SIGSEGV)"), -1) << overflow.toStdString();
}

TEST(CrashReporterTest, NextLaunchOffersTheReportOnce) {
    test::TempHome home;
    const QString folder = home.file("reports");
    ASSERT_FALSE(crashAndRead(folder, "segv").isEmpty());

    QStringList texts;
    QList<QUrl> opened;
    CrashReporter::CheckEnvironment env;
    env.reportFolder = folder;
    env.supportMailDomain = "example.org";
    env.runAlert = [&](QMessageBox& box) {
        texts << box.text();
        EXPECT_EQ(alertButton(box, AlertAnswer::First)->text(), "Send Report");
        EXPECT_EQ(alertButton(box, AlertAnswer::Second)->text(), "Ignore");
        EXPECT_EQ(alertButton(box, AlertAnswer::Third)->text(), "Show Report");
        return AlertResult{AlertAnswer::First, false};
    };
    env.openUrl = [&](const QUrl& url) {
        opened << url;
        return true;
    };
    EXPECT_TRUE(CrashReporter::check(env));
    EXPECT_EQ(texts, QStringList{"Orvix quit unexpectedly."});
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].scheme(), "mailto");
    EXPECT_EQ(opened[0].path(), "orvix@example.org");
    const QUrlQuery query(opened[0]);
    EXPECT_TRUE(query.queryItemValue("body", QUrl::FullyDecoded).contains("Signal: 11 (SIGSEGV)"));

    EXPECT_FALSE(CrashReporter::check(env)); // offered once only
    EXPECT_EQ(texts.size(), 1);
    EXPECT_EQ(QDir(folder).entryList({"*.txt"}, QDir::Files).size(), 1); // kept for the user
}

TEST(CrashReporterTest, ShowReportOpensTheFileAndNothingPendingOffersNothing) {
    test::TempHome home;
    const QString folder = home.file("reports");
    CrashReporter::CheckEnvironment env;
    env.reportFolder = folder;
    QList<QUrl> opened;
    env.openUrl = [&](const QUrl& url) {
        opened << url;
        return true;
    };
    int alerts = 0;
    env.runAlert = [&](QMessageBox&) {
        ++alerts;
        return AlertResult{AlertAnswer::Third, false};
    };
    EXPECT_FALSE(CrashReporter::check(env)); // no folder at all
    ASSERT_FALSE(crashAndRead(folder, "abort").isEmpty());
    EXPECT_TRUE(CrashReporter::check(env));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_TRUE(QFile::exists(opened[0].toLocalFile()));
    EXPECT_TRUE(opened[0].toLocalFile().endsWith(".txt"));

    ASSERT_FALSE(crashAndRead(folder, "segv").isEmpty());
    env.runAlert = [&](QMessageBox&) {
        ++alerts;
        return AlertResult{AlertAnswer::Second, false};
    };
    EXPECT_TRUE(CrashReporter::check(env)); // "Ignore" still counts as offered
    EXPECT_EQ(opened.size(), 1);
    EXPECT_EQ(alerts, 2);
}

TEST(CrashReporterTest, LongReportsAreCutForTheMailAddress) {
    const QUrl url = CrashReporter::mailAddressForReport(QString(20000, 'x'), "example.org");
    ASSERT_TRUE(url.isValid());
    EXPECT_LT(url.toEncoded().size(), 7000);
    EXPECT_TRUE(QUrlQuery(url).queryItemValue("body", QUrl::FullyDecoded).endsWith("[...]"));
}
