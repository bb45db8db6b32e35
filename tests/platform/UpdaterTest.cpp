#include "LogCapture.h"
#include "LoopbackHttpServer.h"
#include "MemorySettings.h"
#include "os/Bundle.h"
#include "platform/Appcast.h"
#include "platform/MachineIdentifier.h"
#include "platform/SUUpdater.h"
#include "platform/UpdateController.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
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

// Updater, controller and button wired as the program wires them.
struct Rig {
    test::LoopbackHttpServer server;
    test::MemorySettings settings;
    QPushButton button;
    std::atomic<int> uuidCalls{0};
    QList<QUrl> opened;
    std::unique_ptr<UpdateController> controller;
    SUUpdater updater;

    Rig() {
        settings.setObject(true, "CheckForUpdates");
        settings.setObject(true, "SUSendProfileInfo");
        settings.setObject("Typewriter", "SoundTheme");
        settings.setObject(1, "Theme");
        settings.setObject(0.9, "ActiveTransparency");
        settings.setObject(0.4, "InactiveTransparency");
        UpdateController::Sources sources;
        sources.settings = &settings;
        sources.uuid = [this] {
            ++uuidCalls;
            return QStringLiteral("abc123");
        };
        sources.themeTitle = [](int tag) -> std::optional<QString> {
            if (tag == 1)
                return QStringLiteral("Black & White");
            return std::nullopt;
        };
        sources.openUrl = [this](const QUrl& url) {
            opened << url;
            return true;
        };
        controller = std::make_unique<UpdateController>(sources, &button);
        updater.setDelegate(controller.get());
        updater.setSettings(&settings);
        updater.setFeedURL(server.url());
        updater.setHostVersion("100");
        updater.setTimeoutMs(3000);
    }

    SUUpdater::Outcome check() {
        QSignalSpy spy(&updater, &SUUpdater::checkFinished);
        updater.checkForUpdateInformation();
        EXPECT_TRUE(spy.wait(10000));
        return spy.isEmpty() ? SUUpdater::Outcome::Refused
                             : spy.first().first().value<SUUpdater::Outcome>();
    }
    bool buttonShown() const { return !button.isHidden(); }
};

} // namespace

TEST(VersionCompareTest, OrdersVersionsAsPeopleRead) {
    EXPECT_EQ(compareVersions("100", "100"), 0);
    EXPECT_LT(compareVersions("99", "100"), 0);
    EXPECT_LT(compareVersions("1.9", "1.10"), 0);
    EXPECT_LT(compareVersions("1.0", "1.0.1"), 0);
    EXPECT_GT(compareVersions("1.0", "1.0b1"), 0);
    EXPECT_LT(compareVersions("1.0b1", "1.0b2"), 0);
    EXPECT_LT(compareVersions("1.0a", "1.0.1"), 0);
    EXPECT_EQ(compareVersions("1.01", "1.1"), 0);
    EXPECT_GT(compareVersions("123456789012345678901", "99"), 0); // no overflow
    EXPECT_EQ(compareVersions("1.0.", "1.0"), 0);
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
    QString error;
    EXPECT_FALSE(parseAppcast("", &error).has_value());
    EXPECT_FALSE(parseAppcast("<html><body>Not found</body></html>").has_value());
    EXPECT_FALSE(parseAppcast(feed({item("101", "1")}).left(200)).has_value()); // truncated
    EXPECT_FALSE(parseAppcast("<rss><channel><item><enclosure sparkle:version=\"1\"/></item>"
                              "</channel></rss>")
                     .has_value()); // undeclared prefix
    EXPECT_FALSE(parseAppcast("<rss version=\"2.0\"></rss>", &error).has_value());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(parseAppcast(feed({})).has_value()); // empty but well formed
}

TEST(UpdaterTest, FeedAddressPolicy) {
    EXPECT_TRUE(SUUpdater::isAllowedFeedURL(QUrl("https://orvix.org/appcast.xml")));
    EXPECT_TRUE(SUUpdater::isAllowedFeedURL(QUrl("http://127.0.0.1:8080/a")));
    EXPECT_TRUE(SUUpdater::isAllowedFeedURL(QUrl("http://[::1]/a")));
    EXPECT_TRUE(SUUpdater::isAllowedFeedURL(QUrl("http://localhost/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("http://orvix.org/appcast.xml")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("http://127.0.0.1.evil.org/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("ftp://127.0.0.1/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("file:///etc/passwd")));
    // Plain http only to this machine, however its address is written.
    EXPECT_TRUE(SUUpdater::isAllowedFeedURL(QUrl("http://127.8.9.10/a")));
    EXPECT_TRUE(SUUpdater::isAllowedFeedURL(QUrl("http://[::ffff:127.0.0.1]/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("http://128.0.0.1/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("http://[::2]/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("http://[::ffff:10.0.0.1]/a")));
    EXPECT_FALSE(SUUpdater::isAllowedFeedURL(QUrl("http://0.0.0.0/a")));
    EXPECT_TRUE(QUrl(SUUpdater::sharedUpdater()->feedURL()).scheme() == "https");
    EXPECT_EQ(SUUpdater::sharedUpdater(), SUUpdater::sharedUpdater());
}

TEST(UpdaterTest, FoundShowsTheButtonAndItOpensTheReleasePage) {
    Rig rig;
    rig.server.body = feed({item("99", "0.9"), item("104", "1.4"), item("101", "1.1")});
    EXPECT_FALSE(rig.buttonShown());
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Found);
    EXPECT_TRUE(rig.buttonShown());
    ASSERT_TRUE(rig.controller->foundUpdate().has_value());
    EXPECT_EQ(rig.controller->foundUpdate()->shortVersionString, "1.4");
    rig.button.click();
    ASSERT_EQ(rig.opened.size(), 1);
    EXPECT_EQ(rig.opened[0], QUrl("https://orvix.org/releases/104"));
}

TEST(UpdaterTest, NotFoundAndSkippedHideTheButton) {
    Rig rig;
    rig.server.body = feed({item("101", "1.1")});
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Found);
    EXPECT_TRUE(rig.buttonShown());
    rig.updater.skipVersion("101");
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Skipped);
    EXPECT_FALSE(rig.buttonShown());
    rig.server.body = feed({item("102", "1.2")}); // a newer one is not skipped
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Found);
    rig.server.body = feed({item("100", "1.0"), item("90", "0.9")});
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::NotFound);
    EXPECT_FALSE(rig.buttonShown());
}

TEST(UpdaterTest, FailuresLeaveTheButtonAsItWas) {
    Rig rig;
    rig.server.body = feed({item("101", "1.1")});
    ASSERT_EQ(rig.check(), SUUpdater::Outcome::Found);
    test::LogCapture cap;
    rig.server.body = "<rss><channel><item>";
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Malformed);
    EXPECT_TRUE(rig.buttonShown());
    EXPECT_TRUE(cap.contains("Update check failed: the feed is malformed"));
    rig.server.status = "404 Not Found";
    rig.server.body = "missing";
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::NetworkError);
    EXPECT_TRUE(rig.buttonShown());

    rig.button.hide();
    rig.server.status = "200 OK";
    rig.server.body = "\xff\xfe garbage";
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Malformed);
    EXPECT_FALSE(rig.buttonShown());
}

TEST(UpdaterTest, SlowServerTimesOutWithoutBlocking) {
    Rig rig;
    rig.server.hang = true;
    rig.updater.setTimeoutMs(400);
    QSignalSpy spy(&rig.updater, &SUUpdater::checkFinished);
    bool ticked = false;
    rig.updater.checkForUpdateInformation();
    EXPECT_TRUE(rig.updater.isChecking());
    // The caller's event loop keeps running while the server says nothing.
    QTimer::singleShot(50, [&] { ticked = true; });
    rig.updater.checkForUpdateInformation(); // a second request while one runs is ignored
    ASSERT_TRUE(spy.wait(10000));
    EXPECT_TRUE(ticked);
    EXPECT_EQ(spy.first().first().value<SUUpdater::Outcome>(), SUUpdater::Outcome::NetworkError);
    EXPECT_EQ(rig.server.requests.size(), 1);
    EXPECT_FALSE(rig.buttonShown());
    EXPECT_FALSE(rig.updater.isChecking());
}

TEST(UpdaterTest, OversizedFeedsAndServerErrorsFailWithOneLogLine) {
    Rig rig;
    rig.server.body = QByteArray(4 * 1024 * 1024 + 1, 'x');
    {
        test::LogCapture cap;
        EXPECT_EQ(rig.check(), SUUpdater::Outcome::NetworkError);
        EXPECT_TRUE(cap.contains("Update check failed: the document is larger than"));
    }
    rig.server.body = feed({item("2.0", "2.0")});
    rig.server.status = "500 Internal Server Error";
    test::LogCapture cap;
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::NetworkError);
    EXPECT_TRUE(cap.contains("Update check failed:"));
    EXPECT_FALSE(rig.buttonShown());
}

TEST(UpdaterTest, TheDownloadHelperEndsWithItsUpdater) {
    qint64 helperPid = 0;
    {
        Rig rig;
        rig.server.hang = true;
        rig.updater.checkForUpdateInformation();
        auto* helper = rig.updater.findChild<QProcess*>();
        ASSERT_NE(helper, nullptr);
        ASSERT_TRUE(helper->waitForStarted(5000));
        helperPid = helper->processId();
        ASSERT_GT(helperPid, 0);
        // The request reaches the server: the helper is really fetching.
        for (int i = 0; i < 500 && rig.server.requests.isEmpty(); ++i)
            QTest::qWait(10);
        EXPECT_EQ(rig.server.requests.size(), 1);
    }
    // Killed and reaped with the updater, not left running or as a zombie.
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(helperPid)));
}

// Run only as the child of HelperDiesWithAKilledProgram: starts a check
// against the parent's server, which never answers, prints the helper's pid,
// and dies as kill -9 would.
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

// The helper's own contract: what it prints and how it exits.
TEST(UpdaterTest, FetchHelperCommandLine) {
    const QString helper = Bundle::pathForAuxiliaryExecutable(QStringLiteral("orvix-fetch"));
    ASSERT_FALSE(helper.isEmpty());
    auto run = [&](const QStringList& args) {
        QProcess p;
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(helper, args);
        // Waits with the event loop running: the test's own server must answer.
        EXPECT_TRUE(finished.wait(10000));
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
}

TEST(UpdaterTest, UnreachableAndRefusedFeeds) {
    Rig rig;
    rig.updater.setFeedURL(QUrl("http://orvix.org/appcast.xml"));
    test::LogCapture cap;
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::Refused);
    EXPECT_TRUE(cap.contains("Update check refused"));
    rig.updater.setFeedURL(QUrl("http://127.0.0.1:1/appcast.xml")); // nothing listens
    EXPECT_EQ(rig.check(), SUUpdater::Outcome::NetworkError);
}

TEST(UpdaterTest, ProfileParametersOnAndOff) {
    Rig rig;
    rig.server.body = feed({});
    rig.check();
    ASSERT_EQ(rig.server.requests.size(), 1);
    const QByteArray line = rig.server.requests[0];
    const QUrl requested("http://h" + line.split(' ')[1]);
    const QUrlQuery query(requested);
    EXPECT_EQ(query.queryItemValue("uuid"), "abc123");
    EXPECT_EQ(query.queryItemValue("soundTheme"), "Typewriter");
    EXPECT_EQ(query.queryItemValue("keyboardTheme", QUrl::FullyDecoded), "Black & White");
    EXPECT_EQ(query.queryItemValue("activeTransparency"), "0.9");
    EXPECT_EQ(query.queryItemValue("inactiveTransparency"), "0.4");
    EXPECT_EQ(query.queryItems().size(), 5);
    EXPECT_EQ(rig.uuidCalls, 1);

    rig.settings.setObject(false, "SUSendProfileInfo");
    rig.check();
    ASSERT_EQ(rig.server.requests.size(), 2);
    EXPECT_EQ(rig.server.requests[1], "GET /appcast.xml HTTP/1.1");
    EXPECT_EQ(rig.uuidCalls, 1); // not computed without a profile
}

TEST(UpdaterTest, ProfileEntriesAndMissingValues) {
    Rig rig;
    auto entries = rig.controller->feedParametersForUpdater(&rig.updater, true);
    ASSERT_EQ(entries.size(), 5);
    const char* keys[] = {"uuid", "soundTheme", "keyboardTheme", "activeTransparency",
                          "inactiveTransparency"};
    const char* displayKeys[] = {"UUID", "Sound Theme", "Keyboard Theme", "Active Transparency",
                                 "Inactive Transparency"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(entries[i].key, keys[i]);
        EXPECT_EQ(entries[i].displayKey, displayKeys[i]);
        EXPECT_EQ(entries[i].displayValue, entries[i].value);
    }
    EXPECT_EQ(entries[3].value, QVariant(0.9)); // numbers stay numbers
    rig.settings.setObject(42, "Theme");        // matches no menu item
    entries = rig.controller->feedParametersForUpdater(&rig.updater, true);
    EXPECT_EQ(entries.size(), 4);
    for (const ProfileEntry& e : entries)
        EXPECT_NE(e.key, "keyboardTheme");
    EXPECT_TRUE(rig.controller->feedParametersForUpdater(&rig.updater, false).isEmpty());
    EXPECT_FALSE(rig.controller->updaterShouldPromptForPermissionToCheckForUpdates(&rig.updater));
}

TEST(UpdaterTest, CheckForUpdatesSettingDrivesChecksAndTheButton) {
    Rig rig;
    rig.server.body = feed({item("101", "1.1")});
    rig.settings.setObject(false, "CheckForUpdates");
    rig.controller->checkAtLaunch(&rig.updater);
    QCoreApplication::processEvents();
    EXPECT_FALSE(rig.updater.isChecking());
    EXPECT_TRUE(rig.server.requests.isEmpty());
    EXPECT_FALSE(rig.buttonShown());

    QSignalSpy spy(&rig.updater, &SUUpdater::checkFinished);
    rig.settings.setObject(true, "CheckForUpdates");
    rig.controller->checkForUpdatesChanged(&rig.updater); // on: checks at once
    EXPECT_TRUE(rig.updater.isChecking());
    ASSERT_TRUE(spy.wait(10000));
    EXPECT_TRUE(rig.buttonShown());
    rig.settings.setObject(false, "CheckForUpdates");
    rig.controller->checkForUpdatesChanged(&rig.updater);
    EXPECT_FALSE(rig.buttonShown());
    EXPECT_FALSE(rig.updater.isChecking());
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
    const QString first = id.uuid();
    EXPECT_EQ(first.size(), 40);
    EXPECT_EQ(id.uuid(), first);
    EXPECT_EQ(reads, 3);
}

TEST(MachineIdentifierTest, ThreadsShareOneComputation) {
    std::atomic<int> reads{0};
    MachineIdentifier id([&]() -> std::optional<QByteArray> {
        ++reads;
        QThread::msleep(50);
        return QByteArray("feedface");
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
        EXPECT_EQ(r, QStringList{results[0]});
}

TEST(MachineIdentifierTest, DigestOfThisMachineMatchesSha1sum) {
    const auto machineId = MachineIdentifier::readSystemMachineId();
    if (!machineId)
        GTEST_SKIP() << "this machine has no machine id";
    QProcess sha1sum;
    sha1sum.start("sha1sum", {});
    sha1sum.write(*machineId);
    sha1sum.closeWriteChannel();
    ASSERT_TRUE(sha1sum.waitForFinished(5000));
    const QString expected =
        QString::fromLatin1(sha1sum.readAllStandardOutput()).section(' ', 0, 0);
    EXPECT_EQ(MachineIdentifier::shared().uuid(), expected);
    EXPECT_EQ(MachineIdentifier::shared().uuid(), expected);
}
