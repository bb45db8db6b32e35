#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "MemorySettings.h"
#include "OrvixRun.h"
#include "ToolRun.h"
#include "os/Bundle.h"
#include "platform/Appcast.h"
#include "platform/FeedAddress.h"
#include "platform/MachineIdentifier.h"
#include "platform/SUUpdater.h"
#include "platform/SymlinksAndAliases.h"
#include "platform/UpdateController.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWidget>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

QByteArray feed(const QList<QByteArray>& items) {
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<rss version=\"2.0\" xmlns:sparkle=\"https://orvix.org/xml-namespaces/feed\">"
                     "<channel><title>Orvix</title>";
    for (const QByteArray& item : items)
        doc += item;
    return doc + "</channel></rss>";
}

QByteArray item(const QByteArray& version, const QByteArray& shortVersion,
                const QByteArray& link = "https://orvix.org/releases") {
    return "<item><title>Orvix " + shortVersion + "</title><link>" + link + "/" + version +
           "</link><enclosure url=\"https://orvix.org/Orvix-" + shortVersion +
           ".AppImage\" sparkle:version=\"" + version + "\" sparkle:shortVersionString=\"" +
           shortVersion + "\" length=\"1\" type=\"application/octet-stream\"/></item>";
}

// One updater against a loopback feed, without the program around it.
struct Check {
    test::LoopbackHttpServer server;
    test::MemorySettings settings;
    SUUpdater updater;

    Check() {
        updater.setSettings(&settings);
        updater.setFeedURL(server.url());
        updater.setHostVersion("100");
        updater.setTimeoutMs(3000);
    }
    SUUpdater::Outcome run() {
        QSignalSpy spy(&updater, &SUUpdater::checkFinished);
        updater.checkForUpdateInformation();
        EXPECT_TRUE(spy.wait(10000));
        return spy.isEmpty() ? SUUpdater::Outcome::Refused
                             : spy.first().first().value<SUUpdater::Outcome>();
    }
};

} // namespace

TEST(VersionCompareTest, OrdersVersionsAsPeopleRead) {
    const std::tuple<const char*, const char*, int> rows[] = {
        {"100", "100", 0},
        {"99", "100", -1},
        {"1.9", "1.10", -1},
        {"1.0", "1.0.1", -1},
        {"1.0", "1.0b1", 1},
        {"1.0b1", "1.0b2", -1},
        {"1.0a", "1.0.1", -1},
        {"1.01", "1.1", 0},
        {"123456789012345678901", "99", 1}, // no overflow
        {"1.0.", "1.0", 0}};
    for (const auto& [a, b, sign] : rows)
        EXPECT_EQ((compareVersions(a, b) > 0) - (compareVersions(a, b) < 0), sign) << a << " " << b;
}

TEST(AppcastTest, ReadsItemsInBothForms) {
    const QByteArray doc =
        feed({item("101", "1.0.1"),
              "<item><title>Element form</title><sparkle:version>102</sparkle:version>"
              "<sparkle:shortVersionString>1.0.2</sparkle:shortVersionString>"
              "<enclosure url=\"https://orvix.org/b.AppImage\"/></item>",
              "<item><title>No version</title><enclosure url=\"https://x/y\"/></item>"});
    const auto items = parseAppcast(doc);
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 2);
    EXPECT_EQ((*items)[0].version, "101");
    EXPECT_EQ((*items)[0].shortVersionString, "1.0.1");
    EXPECT_EQ((*items)[0].releasePage, QUrl("https://orvix.org/releases/101"));
    EXPECT_EQ((*items)[1].version, "102");
    EXPECT_EQ((*items)[1].releasePage, QUrl("https://orvix.org/b.AppImage")); // no link
    EXPECT_EQ(bestUpdate(*items, "100")->version, "102");
    EXPECT_FALSE(bestUpdate(*items, "102").has_value());
    EXPECT_FALSE(bestUpdate({}, "1").has_value());
}

TEST(AppcastTest, MalformedDocumentsAreRejected) {
    for (const QByteArray& doc :
         {QByteArray(), QByteArray("<html><body>Not found</body></html>"),
          feed({item("101", "1")}).left(200), // truncated
          QByteArray(
              "<rss><channel><item><enclosure sparkle:version=\"1\"/></item></channel></rss>"),
          QByteArray("<rss version=\"2.0\"></rss>")}) {
        QString error;
        EXPECT_FALSE(parseAppcast(doc, &error).has_value()) << doc.constData();
        EXPECT_FALSE(error.isEmpty()) << doc.constData();
    }
    EXPECT_TRUE(parseAppcast(feed({})).has_value()); // empty but well formed
}

TEST(FeedAddressTest, HttpsAnywherePlainHttpOnlyFromThisMachine) {
    struct Row {
        const char* url;
        bool feed, loopback, page;
    };
    const Row rows[] = {
        {"https://orvix.org/appcast.xml", true, false, true},
        {"http://127.0.0.1:8080/a", true, true, false},
        {"https://127.0.0.1:8443/a", true, true, true},
        {"http://[::1]/a", true, true, false},
        {"http://localhost/a", true, true, false},
        {"http://127.8.9.10/a", true, true, false},
        {"http://[::ffff:127.0.0.1]/a", true, true, false},
        {"http://orvix.org/appcast.xml", false, false, false},
        {"http://127.0.0.1.evil.org/a", false, false, false},
        {"http://128.0.0.1/a", false, false, false},
        {"http://[::2]/a", false, false, false},
        {"http://[::ffff:10.0.0.1]/a", false, false, false},
        {"http://0.0.0.0/a", false, false, false},
        {"ftp://127.0.0.1/a", false, false, false},
        {"file:///etc/passwd", false, false, false},
        {"javascript:alert(1)", false, false, false},
        {"https:///no-host", false, false, false},
        {"", false, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.url);
        const QUrl url(QString::fromLatin1(r.url));
        EXPECT_EQ(isAllowedFeedAddress(url), r.feed);
        EXPECT_EQ(isLoopbackAddress(url), r.loopback);
        EXPECT_EQ(isAllowedReleasePage(url), r.page);
        // Only a feed on this machine may replace the built-in one.
        EXPECT_EQ(feedAddress("https://orvix.org/appcast.xml", r.url),
                  QUrl(r.loopback ? r.url : "https://orvix.org/appcast.xml"));
    }
    EXPECT_EQ(SUUpdater::sharedUpdater()->feedURL().scheme(), "https");
}

TEST(UpdaterTest, OutcomesOfACheck) {
    using O = SUUpdater::Outcome;
    const QByteArray ok = "200 OK", failed = "Update check failed";
    const struct {
        QByteArray status, body, skipped;
        O outcome;
        QByteArray log;
        const char* feedUrl = nullptr; // default: the test's server
    } rows[] = {
        {ok, feed({item("99", "0.9"), item("104", "1.4"), item("101", "1.1")}), "", O::Found, ""},
        {ok, feed({item("100", "1.0"), item("90", "0.9")}), "", O::NotFound, ""},
        {ok, feed({item("101", "1.1")}), "101", O::Skipped, ""},
        {ok, feed({item("102", "1.2")}), "101", O::Found, ""},
        {ok, "<rss><channel><item>", "", O::Malformed, failed + ": the feed is malformed"},
        {ok, "\xff\xfe garbage", "", O::Malformed, failed},
        {"404 Not Found", "missing", "", O::NetworkError, failed},
        {"500 Internal Server Error", feed({item("200", "2.0")}), "", O::NetworkError, failed},
        {ok, QByteArray(4 * 1024 * 1024 + 1, 'x'), "", O::NetworkError,
         failed + ": the document is larger than"},
        {ok, feed({item("101", "1.1")}), "", O::Refused, "Update check refused",
         "http://orvix.org/appcast.xml"},
        {ok, feed({item("101", "1.1")}), "", O::NetworkError, failed,
         "http://127.0.0.1:1/appcast.xml"}, // nothing listens
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.status.toStdString() + " " + r.body.left(60).toStdString());
        Check check;
        check.server.status = r.status;
        check.server.body = r.body;
        if (!r.skipped.isEmpty())
            check.updater.skipVersion(QString::fromLatin1(r.skipped));
        if (r.feedUrl)
            check.updater.setFeedURL(QUrl(r.feedUrl));
        test::LogCapture cap;
        EXPECT_EQ(check.run(), r.outcome);
        EXPECT_TRUE(r.log.isEmpty() || cap.contains(r.log.toStdString())) << r.log.constData();
    }
}

TEST(UpdaterTest, SlowServerTimesOutWithoutBlocking) {
    Check check;
    check.server.hang = true;
    check.updater.setTimeoutMs(400);
    QSignalSpy spy(&check.updater, &SUUpdater::checkFinished);
    bool ticked = false;
    check.updater.checkForUpdateInformation();
    EXPECT_TRUE(check.updater.isChecking());
    // The caller's event loop keeps running while the server says nothing.
    QTimer::singleShot(50, [&] { ticked = true; });
    check.updater.checkForUpdateInformation(); // a second request while one runs is ignored
    ASSERT_TRUE(spy.wait(10000));
    EXPECT_TRUE(ticked);
    EXPECT_EQ(spy.first().first().value<SUUpdater::Outcome>(), SUUpdater::Outcome::NetworkError);
    EXPECT_EQ(check.server.requests.size(), 1);
    EXPECT_FALSE(check.updater.isChecking());
}

TEST(UpdaterTest, TheDownloadHelperEndsWithItsUpdater) {
    qint64 helperPid = 0;
    {
        Check check;
        check.server.hang = true;
        check.updater.checkForUpdateInformation();
        auto* helper = check.updater.findChild<QProcess*>();
        ASSERT_NE(helper, nullptr);
        ASSERT_TRUE(helper->waitForStarted(5000));
        helperPid = helper->processId();
        ASSERT_GT(helperPid, 0);
        // The request reaches the server: the helper is really fetching.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !check.server.requests.isEmpty(); }, 5000));
    }
    // Killed and reaped with the updater, not left running or as a zombie.
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(helperPid)));
}

// Child of HelperDiesWithAKilledProgram: starts a check, prints the helper's pid, dies by SIGKILL.
TEST(UpdaterTest, DISABLED_KilledDuringCheckChild) {
    SUUpdater updater;
    updater.setFeedURL(QUrl(qEnvironmentVariable("ORVIX_TEST_FEED")));
    updater.checkForUpdateInformation();
    auto* helper = updater.findChild<QProcess*>();
    ASSERT_NE(helper, nullptr);
    ASSERT_TRUE(helper->waitForStarted(5000));
    QTest::qWait(500); // the helper connects to the parent's server meanwhile
    std::printf("helper %lld\n", static_cast<long long>(helper->processId()));
    std::fflush(stdout);
    std::raise(SIGKILL);
}

TEST(UpdaterTest, HelperDiesWithAKilledProgram) {
    // The server lives here, so the helper's connection stays open after the
    // child dies: only the child's death can end the helper in time.
    test::LoopbackHttpServer server;
    server.hang = true;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVIX_TEST_FEED"), server.url());
    child.setProcessEnvironment(env);
    QSignalSpy finished(&child, &QProcess::finished);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests",
                 "--gtest_filter=UpdaterTest.DISABLED_KilledDuringCheckChild"});
    ASSERT_TRUE(finished.wait(30000)); // the event loop runs: the server accepts
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(server.requests.size(), 1);
    const QByteArray out = child.readAllStandardOutput();
    const qsizetype at = out.indexOf("helper ");
    ASSERT_GE(at, 0) << out.constData();
    const QByteArray pid = out.mid(at + 7).split('\n').first();
    ASSERT_GT(pid.toLongLong(), 0);
    // Gone, or at most a zombie waiting for whoever adopted it.
    const QString stat = QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile file(stat);
            if (!file.open(QIODevice::ReadOnly))
                return true;
            const QByteArray text = file.readAll();
            const qsizetype close = text.lastIndexOf(')');
            return close > 0 && text.mid(close + 2, 1) == "Z";
        },
        5000));
}

// The helper's own contract: what it prints, how it exits, which redirects it follows.
TEST(UpdaterTest, FetchHelperCommandLineAndRedirects) {
    const QString helper = Bundle::pathForAuxiliaryExecutable(QStringLiteral("orvix-fetch"));
    ASSERT_FALSE(helper.isEmpty());
    auto run = [&](const QStringList& args) {
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(helper, args);
        // Waits with the event loop running: the test's own server must answer.
        EXPECT_TRUE(finished.wait(20000));
        return std::tuple{p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    };
    EXPECT_EQ(std::get<0>(run({})), 2);
    EXPECT_EQ(std::get<0>(run({"--timeout-ms", "0", "https://example.org/"})), 2);
    EXPECT_EQ(std::get<0>(run({"https://a.example/", "https://b.example/"})), 2);
    const auto [refused, none, why] = run({"http://orvix.org/appcast.xml"});
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(why, "the address is not HTTPS\n");

    test::LoopbackHttpServer server;
    server.body = "exact bytes\0\r\nkept";
    server.body += QByteArray(1, '\0');
    const auto [ok, body, silent] = run({"--user-agent", "Orvix/9", server.url()});
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(body, server.body);
    EXPECT_TRUE(silent.isEmpty());

    // A redirect on this machine is followed; one to another host over plain
    // HTTP, or to another scheme, is not even tried.
    server.redirects["/moved"] = server.url().toLatin1();
    const auto [followed, same, quiet] = run({server.url("/moved")});
    EXPECT_EQ(followed, 0);
    EXPECT_EQ(same, server.body);
    for (const QByteArray& target :
         {QByteArray("http://192.0.2.1/appcast.xml"), QByteArray("file:///etc/passwd")}) {
        server.redirects["/away"] = target;
        server.requests.clear();
        const auto [status, nothing, message] = run({"--timeout-ms", "10000", server.url("/away")});
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(nothing.isEmpty());
        EXPECT_TRUE(message.startsWith("the server redirected to an address that is not HTTPS") ||
                    target.startsWith("file:"))
            << message.constData();
        EXPECT_EQ(server.requests.size(), 1);
    }
}

// The full profile is checked on the running program's request below.
TEST(UpdaterTest, ProfileLeavesOutMissingValuesAndIsNotMadeWhenOff) {
    SUUpdater updater;
    test::MemorySettings settings;
    settings.setObject(42, "Theme"); // matches no menu item
    int uuidCalls = 0;
    UpdateController::Sources sources;
    sources.settings = &settings;
    sources.uuid = [&] {
        ++uuidCalls;
        return QString();
    };
    sources.themeTitle = [](int) {
        return std::nullopt;
    };
    UpdateController controller(sources, &updater, nullptr);
    EXPECT_TRUE(controller.feedParametersForUpdater(&updater, true).isEmpty());
    EXPECT_EQ(uuidCalls, 1);
    settings.setObject(0.9, "ActiveTransparency");
    const auto entries = controller.feedParametersForUpdater(&updater, true);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].value, QVariant(0.9)); // numbers stay numbers
    EXPECT_EQ(entries[0].displayValue, entries[0].value);
    EXPECT_TRUE(controller.feedParametersForUpdater(&updater, false).isEmpty());
    EXPECT_EQ(uuidCalls, 2); // not computed without a profile
    EXPECT_FALSE(controller.updaterShouldPromptForPermissionToCheckForUpdates(&updater));
}

TEST(UpdaterTest, SwitchingChecksOnChecksAtOnceAndOffHidesTheButton) {
    Check check;
    check.server.body = feed({item("101", "1.1")});
    auto& [server, settings, updater] = check;
    QWidget button;
    UpdateController::Sources sources;
    sources.settings = &settings;
    UpdateController controller(sources, &updater, &button);
    settings.setObject(false, "CheckForUpdates");
    controller.checkAtLaunch();
    EXPECT_FALSE(updater.isChecking());
    QSignalSpy spy(&updater, &SUUpdater::checkFinished);
    settings.setObject(true, "CheckForUpdates");
    controller.checkForUpdatesChanged();
    ASSERT_TRUE(spy.wait(10000));
    EXPECT_FALSE(button.isHidden());
    settings.setObject(false, "CheckForUpdates");
    controller.checkForUpdatesChanged();
    EXPECT_TRUE(button.isHidden());
    EXPECT_EQ(server.requests.size(), 1);
}

TEST(MachineIdentifierTest, KnownVectors) {
    // Expected values made with Python's hmac module:
    //   h = hmac.new(bytes.fromhex(machine_id), bytes.fromhex(app_id), sha256).digest()[:16]
    //   h[6] = h[6] & 0x0f | 0x40; h[8] = h[8] & 0x3f | 0x80; h.hex()
    // with app_id ac146f2132b740f7a355ea79858660c6.
    const std::pair<QByteArray, QString> rows[] = {
        {"0123456789abcdef0123456789abcdef\n", "2890dea25c444da6a64cd0f39aa1eeb7"},
        {"ffffffffffffffffffffffffffffffff", "3f4e9c8752b047698df3364d2d6924b6"},
        {"00000000000000000000000000000000", ""}, // an unset id identifies nothing
        {"uninitialized", ""},
        {"0123456789abcdef0123456789abcdeg", ""},
        {"0123456789abcdef0123456789abcdef01", ""},
        {"", ""},
    };
    for (const auto& [machineId, expected] : rows)
        EXPECT_EQ(MachineIdentifier::digest(machineId), expected) << machineId.constData();
}

TEST(MachineIdentifierTest, ComputedOnceAndRetriedAfterFailure) {
    int reads = 0;
    bool fail = true;
    MachineIdentifier id([&]() -> std::optional<QByteArray> {
        ++reads;
        if (fail)
            return std::nullopt;
        return QByteArray("0123456789abcdef0123456789abcdef\n");
    });
    EXPECT_EQ(id.uuid(), "");
    EXPECT_EQ(id.uuid(), "");
    EXPECT_EQ(reads, 2); // failures are retried
    fail = false;
    EXPECT_EQ(id.uuid(), "2890dea25c444da6a64cd0f39aa1eeb7");
    EXPECT_EQ(id.uuid(), "2890dea25c444da6a64cd0f39aa1eeb7");
    EXPECT_EQ(reads, 3);
}

TEST(MachineIdentifierTest, ThreadsShareOneComputation) {
    std::atomic<int> reads{0};
    MachineIdentifier id([&]() -> std::optional<QByteArray> {
        ++reads;
        QThread::msleep(50);
        return QByteArray("ffffffffffffffffffffffffffffffff");
    });
    QStringList results[4];
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back(QThread::create([&id, &results, i] { results[i] << id.uuid(); }));
    for (auto& t : threads)
        t->start();
    for (auto& t : threads)
        t->wait();
    EXPECT_EQ(reads, 1);
    for (const QStringList& r : results)
        EXPECT_EQ(r, QStringList{"3f4e9c8752b047698df3364d2d6924b6"});
}

// The real orvix in Xvfb: feed on loopback, stand-in browser, button read from pixels.
class UpdaterProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        x = std::make_unique<test::XSession>(test::XSession::Options{
            .windowManager = false, .screen = QStringLiteral("1024x768x24")});
    }
    static void TearDownTestSuite() { x.reset(); }

    void SetUp() override {
        ASSERT_TRUE(x && x->isRunning()) << "Xvfb did not start";
        opened = x->home() + QStringLiteral("/opened");
        QFile::remove(opened);
        browser =
            test::writeScript(x->home() + QStringLiteral("/browser/xdg-open"),
                              "printf '%s\\n' \"$1\" >> " + shellQuote(opened).toUtf8() + "\n");
        ASSERT_FALSE(browser.isEmpty());
        x->setEnv(QStringLiteral("PATH"),
                  QFileInfo(browser).path() + QLatin1Char(':') + qEnvironmentVariable("PATH"));
        x->setEnv(QStringLiteral("ORVIX_UPDATE_FEED"), server.url());
    }

    std::unique_ptr<test::OrvixRun> launch(const QByteArray& config) {
        EXPECT_TRUE(x->writeOrvixConfig("[General]\n" + config));
        auto run = std::make_unique<test::OrvixRun>(*x);
        EXPECT_FALSE(run->panel().isEmpty());
        return run;
    }

    // Green pixels where the update button sits (left of the gear, top right).
    static int updateButtonPixels(const QImage& panel) {
        int green = 0;
        for (int y = 4; y < 18; ++y)
            for (int px = panel.width() - 40; px < panel.width() - 26; ++px) {
                const QColor c = panel.pixelColor(px, y);
                green += c.green() > 150 && c.red() < 110 && c.blue() < 140;
            }
        return green;
    }
    static void clickUpdateButton(test::OrvixRun& run) {
        const auto g = x->windowGeometry(run.panel());
        x->click(g.x + g.width - 33, g.y + 11);
    }
    QStringList openedPages() const {
        return QString::fromUtf8(test::readFile(opened)).split(u'\n', Qt::SkipEmptyParts);
    }
    bool browserRunning() const {
        for (const QString& pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
            QFile cmdline("/proc/" + pid + "/cmdline");
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(browser.toUtf8()))
                return true;
        }
        return false;
    }

    static inline std::unique_ptr<test::XSession> x;
    test::LoopbackHttpServer server;
    QString opened, browser;
};

TEST_F(UpdaterProgramTest, NewerVersionShowsTheButtonWhichOpensItsPageOnce) {
    server.body = feed({item("999999999", "99.0")});
    auto run = launch("Theme=1\nSoundTheme=Off\nActiveTransparency=0.9\n"
                      "InactiveTransparency=0.4\n");
    ASSERT_TRUE(run->waitForOutput("Update check found version 999999999"));
    EXPECT_TRUE(test::XSession::waitFor([&] { return updateButtonPixels(run->grabPanel()) > 40; }));

    // "SUSendProfileInfo" is on by default: the profile rides on the request.
    ASSERT_EQ(server.requests.size(), 1);
    const QUrlQuery query(QUrl("http://h" + server.requests[0].split(' ').value(1)));
    EXPECT_EQ(query.queryItemValue("uuid"), MachineIdentifier::shared().uuid());
    EXPECT_EQ(query.queryItemValue("soundTheme"), "Off");
    EXPECT_EQ(query.queryItemValue("keyboardTheme"), "Black");
    EXPECT_EQ(query.queryItemValue("activeTransparency"), "0.9");
    EXPECT_EQ(query.queryItemValue("inactiveTransparency"), "0.4");

    clickUpdateButton(*run);
    ASSERT_TRUE(test::XSession::waitFor([&] { return !openedPages().isEmpty(); }));
    // The gear's menu opens only after the update button's click has been
    // handled, browsers and all; then every browser started has written.
    const QStringList before = x->windowsOfPid(run->process()->processId());
    const auto g = x->windowGeometry(run->panel());
    x->click(g.x + g.width - 13, g.y + 11);
    EXPECT_TRUE(test::XSession::waitFor(
        [&] { return x->windowsOfPid(run->process()->processId()).size() > before.size(); }));
    EXPECT_TRUE(test::XSession::waitFor([&] { return !browserRunning(); }));
    EXPECT_EQ(openedPages().join(' ').toStdString(), "https://orvix.org/releases/999999999");
}

TEST_F(UpdaterProgramTest, NoNewerOrSkippedVersionLeavesTheButtonHidden) {
    struct Row {
        QByteArray version, config, log;
    };
    const Row rows[] = {
        // Without "SUSendProfileInfo" the request carries nothing.
        {"0", "SUSendProfileInfo=false\n", "Update check found no newer version"},
        {"999999999", "SUSkippedVersion=999999999\nSUSendProfileInfo=false\n",
         "Update check found only the version the user skipped"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.log.toStdString());
        server.requests.clear();
        server.body = feed({item(r.version, "1.0")});
        auto run = launch(r.config);
        ASSERT_TRUE(run->waitForOutput(r.log));
        ASSERT_EQ(server.requests.size(), 1);
        EXPECT_EQ(server.requests[0], "GET /appcast.xml HTTP/1.1");
        const QImage panel = run->grabPanel();
        ASSERT_FALSE(panel.isNull());
        EXPECT_EQ(updateButtonPixels(panel), 0);
    }
}

TEST_F(UpdaterProgramTest, OnlyHttpsPagesAreOpened) {
    server.body = feed({item("999999999", "99.0", "file:///etc")});
    auto run = launch("");
    ASSERT_TRUE(run->waitForOutput("Update check found version"));
    ASSERT_TRUE(test::XSession::waitFor([&] { return updateButtonPixels(run->grabPanel()) > 40; }));
    clickUpdateButton(*run);
    ASSERT_TRUE(run->waitForOutput("Update page refused: the address is not HTTPS"));
    EXPECT_FALSE(browserRunning());
    EXPECT_TRUE(openedPages().isEmpty());
}
