#include "platform/CrashReporter.h"

#include "TempHome.h"
#include "ToolRun.h"
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

// Runs the child until it crashes; answers the report it left.
QString crashAndRead(const QString& folder, const char* how, int* exitStatus = nullptr) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "handle_segv=0:handle_abort=0:detect_leaks=0");
    const test::ToolRun run =
        test::runTool(test::builtProgram("platform_crash_child"), {folder, how}, env, 30000);
    if (exitStatus)
        *exitStatus = run.exitCode == -2 ? QProcess::CrashExit : QProcess::NormalExit;
    const QStringList reports = CrashReporter::pendingReports(folder);
    return reports.isEmpty() ? QString() : QString::fromUtf8(test::readFile(reports.first()));
}

// The next launch's offer, answered with `answer`; every alert is recorded.
struct Offer {
    CrashReporter::CheckEnvironment env;
    AlertAnswer answer = AlertAnswer::First;
    QStringList texts;
    QList<QUrl> opened;

    explicit Offer(const QString& folder) {
        env.reportFolder = folder;
        env.supportMailDomain = "example.org";
        env.runAlert = [this](QMessageBox& box) {
            texts << box.text();
            EXPECT_EQ(alertButton(box, AlertAnswer::First)->text(), "Send Report");
            EXPECT_EQ(alertButton(box, AlertAnswer::Second)->text(), "Ignore");
            EXPECT_EQ(alertButton(box, AlertAnswer::Third)->text(), "Show Report");
            return AlertResult{answer, false};
        };
        env.openUrl = [this](const QUrl& url) {
            opened << url;
            return true;
        };
    }
    bool check() { return CrashReporter::check(env); }
};

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
    const QString overflow = crashAndRead(home.file("overflow"), "overflow");
    EXPECT_NE(overflow.indexOf("Signal: 11 (SIGSEGV)"), -1) << overflow.toStdString();
}

TEST(CrashReporterTest, NextLaunchOffersTheReportOnce) {
    test::TempHome home;
    const QString folder = home.file("reports");
    ASSERT_FALSE(crashAndRead(folder, "segv").isEmpty());
    Offer offer(folder);
    EXPECT_TRUE(offer.check());
    EXPECT_EQ(offer.texts, QStringList{"Orvix quit unexpectedly."});
    ASSERT_EQ(offer.opened.size(), 1);
    const QUrl mail = offer.opened[0];
    EXPECT_EQ(mail.scheme(), "mailto");
    EXPECT_EQ(mail.path(), "orvix@example.org");
    EXPECT_TRUE(QUrlQuery(mail)
                    .queryItemValue("body", QUrl::FullyDecoded)
                    .contains("Signal: 11 (SIGSEGV)"));

    EXPECT_FALSE(offer.check()); // offered once only
    EXPECT_EQ(offer.texts.size(), 1);
    EXPECT_EQ(QDir(folder).entryList({"*.txt"}, QDir::Files).size(), 1); // kept for the user
}

TEST(CrashReporterTest, ShowReportOpensTheFileAndNothingPendingOffersNothing) {
    test::TempHome home;
    const QString folder = home.file("reports");
    Offer offer(folder);
    offer.answer = AlertAnswer::Third;
    EXPECT_FALSE(offer.check()); // no folder at all
    ASSERT_NE(crashAndRead(folder, "abort").indexOf("Signal: 6 (SIGABRT)"), -1);
    EXPECT_TRUE(offer.check());
    ASSERT_EQ(offer.opened.size(), 1);
    EXPECT_TRUE(offer.opened[0].isLocalFile());
    EXPECT_TRUE(QFile::exists(offer.opened[0].toLocalFile()));
    EXPECT_TRUE(offer.opened[0].toLocalFile().endsWith(".txt"));

    ASSERT_FALSE(crashAndRead(folder, "segv").isEmpty());
    offer.answer = AlertAnswer::Second;
    EXPECT_TRUE(offer.check()); // "Ignore" still counts as offered
    EXPECT_EQ(offer.opened.size(), 1);
    EXPECT_EQ(offer.texts.size(), 2);
}

TEST(CrashReporterTest, LongReportsAreCutForTheMailAddress) {
    const QUrl url = CrashReporter::mailAddressForReport(QString(20000, 'x'), "example.org");
    ASSERT_TRUE(url.isValid());
    EXPECT_LT(url.toEncoded().size(), 7000);
    EXPECT_TRUE(QUrlQuery(url).queryItemValue("body", QUrl::FullyDecoded).endsWith("[...]"));
}
