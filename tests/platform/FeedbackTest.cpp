#include "platform/Feedback.h"

#include "MemorySettings.h"
#include "platform/AppAdditions.h"
#include "platform/UrlEncode.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace orvix;

namespace {

const QDateTime kStart(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);

// Drives a Feedback through launches at chosen times with chosen answers.
struct Harness {
    test::MemorySettings settings;
    QDateTime now = kStart;
    int prompts = 0;
    AlertResult answer{AlertAnswer::Second, false};
    QList<QUrl> opened;

    void launch() {
        Feedback::Environment env;
        env.settings = &settings;
        env.now = [this] {
            return now;
        };
        env.runAlert = [this](QMessageBox&) {
            ++prompts;
            return answer;
        };
        env.openUrl = [this](const QUrl& url) {
            opened << url;
            return true;
        };
        env.supportMailDomain = "example.org";
        env.osVersion = "Debian GNU/Linux 12 (bookworm)";
        Feedback feedback(env);
    }
};

// Replaces information values (an invalid one removes its key) for one test.
struct InfoOverride {
    const QVariantMap saved = AppAdditions::infoDictionary();
    explicit InfoOverride(const QVariantMap& changes) {
        QVariantMap info = saved;
        for (auto [key, value] : changes.asKeyValueRange())
            value.isValid() ? void(info.insert(key, value)) : void(info.remove(key));
        AppAdditions::setInfoDictionary(info);
    }
    ~InfoOverride() { AppAdditions::setInfoDictionary(saved); }
};

} // namespace

TEST(UrlEncodeTest, EscapesEverythingButUnreserved) {
    EXPECT_EQ(urlEncode("abcXYZ019-._~"), "abcXYZ019-._~");
    EXPECT_EQ(urlEncode("!*'();:@&=+$,/?%#[]"),
              "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D");
    EXPECT_EQ(urlEncode("a b\nc"), "a%20b%0Ac");
    EXPECT_EQ(urlEncode(QString::fromUtf8("\xc3\xa9")), "%C3%A9");
    EXPECT_EQ(urlEncode(""), "");
}

TEST(FeedbackTest, FirstLaunchStartsTheWeekAndPromptsOnlyAfterSevenDays) {
    Harness h;
    h.launch();
    EXPECT_EQ(h.prompts, 0);
    EXPECT_EQ(h.settings.objectForKey("FeedbackFirstUsed").toDateTime(), kStart);
    EXPECT_FALSE(AppAdditions::applicationVersion().isEmpty()); // a new build must show
    EXPECT_EQ(h.settings.objectForKey("FeedbackLastVersionUsed").toString(),
              AppAdditions::applicationVersion());
    EXPECT_EQ(h.settings.objectForKey("FeedbackPrompted"), QVariant(false));
    EXPECT_EQ(h.settings.synchronizeCount, 1);
    for (qint64 seconds : {6 * 86400 + 23 * 3600, 7 * 86400 - 1}) {
        h.now = kStart.addSecs(seconds);
        h.launch();
    }
    EXPECT_EQ(h.prompts, 0);
    h.now = kStart.addSecs(7 * 86400);
    h.launch();
    EXPECT_EQ(h.prompts, 1);
}

TEST(FeedbackTest, NotNowWaitsAnotherWeekAndTheBoxSilencesEveryBuild) {
    Harness h;
    h.launch();
    h.now = kStart.addDays(8);
    h.launch(); // "Not Now", no box
    EXPECT_EQ(h.prompts, 1);
    EXPECT_EQ(h.settings.objectForKey("FeedbackFirstUsed").toDateTime(), h.now);
    h.now = h.now.addSecs(Feedback::kPromptInterval - 60);
    h.launch();
    EXPECT_EQ(h.prompts, 1);
    h.now = h.now.addSecs(60);
    h.answer = {AlertAnswer::Second, true}; // "Not Now" with the box ticked
    h.launch();
    EXPECT_EQ(h.prompts, 2);
    EXPECT_TRUE(h.settings.boolForKey("FeedbackSuppress"));
    h.now = h.now.addDays(30);
    h.launch();
    EXPECT_EQ(h.prompts, 2);

    InfoOverride newBuild({{"CFBundleVersion", "9999"}});
    h.launch();
    h.now = h.now.addDays(30);
    h.launch();
    EXPECT_EQ(h.prompts, 2); // suppression outlives the build
    EXPECT_TRUE(h.opened.isEmpty());
}

TEST(FeedbackTest, SendFeedbackEndsThisBuildButANewBuildAsksAgain) {
    Harness h;
    h.launch();
    h.now = kStart.addDays(7);
    h.answer = {AlertAnswer::First, false};
    h.launch();
    EXPECT_EQ(h.prompts, 1);
    ASSERT_EQ(h.opened.size(), 1);
    EXPECT_TRUE(h.settings.boolForKey("FeedbackPrompted"));
    h.now = h.now.addDays(14);
    h.launch();
    EXPECT_EQ(h.prompts, 1);

    InfoOverride newBuild({{"CFBundleVersion", "9999"}});
    h.launch(); // new build: dates reset, no prompt
    EXPECT_EQ(h.prompts, 1);
    EXPECT_FALSE(h.settings.boolForKey("FeedbackPrompted"));
    h.now = h.now.addDays(7);
    h.launch();
    EXPECT_EQ(h.prompts, 2);
}

TEST(FeedbackTest, KnownBuildWithoutADateNeverPrompts) {
    Harness h;
    h.settings.setObject(AppAdditions::applicationVersion(), "FeedbackLastVersionUsed");
    h.now = kStart.addDays(100);
    h.launch();
    EXPECT_EQ(h.prompts, 0);
    EXPECT_FALSE(h.settings.objectForKey("FeedbackFirstUsed").isValid()); // not repaired
}

TEST(FeedbackTest, AlertTextsButtonsAndTheRealModalRun) {
    Feedback::Environment env;
    Feedback feedback(env); // no settings: no decision
    for (bool tick : {false, true}) {
        auto box = feedback.buildPromptAlert();
        EXPECT_EQ(box->text(), "Tell Us What You Think of Orvix");
        EXPECT_EQ(box->informativeText(),
                  "Thank you for using Orvix!  Have you had any issues to report or ideas for "
                  "improvement?\n\nJust a quick email would be greatly appreciated.");
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(alertButton(*box, AlertAnswer::First)->text(), "Send Feedback");
        EXPECT_EQ(alertButton(*box, AlertAnswer::Second)->text(), "Not Now");
        ASSERT_NE(box->checkBox(), nullptr);
        EXPECT_EQ(box->checkBox()->text(), "Do not show this message again");
        QMessageBox* raw = box.get();
        QTimer::singleShot(0, raw, [raw, tick] {
            raw->checkBox()->setChecked(tick);
            alertButton(*raw, AlertAnswer::Second)->click();
        });
        const AlertResult r = runAlertModally(*box);
        EXPECT_EQ(r.answer, AlertAnswer::Second);
        EXPECT_EQ(r.suppressed, tick);
    }
}

TEST(FeedbackTest, MailAddressForANameWithABlankAndASlash) {
    InfoOverride name({{"CFBundleName", "Or vix/Pro"},
                       {"CFBundleShortVersionString", "1.2"},
                       {"CFBundleVersion", "345"}});
    Feedback::Environment env;
    env.supportMailDomain = "example.org";
    env.osVersion = "Debian 12";
    Feedback feedback(env);
    const QString expected =
        "mailto:or%20vix%2Fpro@example.org?subject=Feedback%20for%20Or%20vix%2FPro%201.2%20%28345%"
        "29%20on%20Debian%2012&body=What%20do%20you%20like%20about%20Or%20vix%2FPro%3F%0A%0AWhat%"
        "20could%20be%20added%2Fremoved%3F%0A%0AHave%20you%20had%20any%20issues%3F";
    EXPECT_EQ(feedback.feedbackAddressText(), expected);
    const QUrl url = feedback.feedbackAddress();
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(QString::fromLatin1(url.toEncoded()), expected);
    EXPECT_EQ(url.scheme(), "mailto");
}

TEST(FeedbackTest, NameFallbacks) {
    {
        InfoOverride noName({{"CFBundleName", QVariant()}, {"CFBundleDisplayName", "Shown"}});
        EXPECT_EQ(Feedback::applicationName(), "Shown");
    }
    InfoOverride none({{"CFBundleName", QVariant()}});
    EXPECT_EQ(Feedback::applicationName(), "this application");
    EXPECT_EQ(AppAdditions::applicationName(), "No Name");
}

// The message reaches the "mailto" handler through the desktop's URL handling.
class MailCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void handle(const QUrl& url) { urls << url; }
};

TEST(FeedbackTest, SendFeedbackReachesTheMailHandlerAtTheBuildsDomain) {
    MailCatcher catcher;
    QDesktopServices::setUrlHandler("mailto", &catcher, "handle");
    Feedback::Environment env; // default opener and domain
    Feedback feedback(env);
    feedback.sendFeedback(nullptr);
    QDesktopServices::unsetUrlHandler("mailto");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toEncoded(), feedback.feedbackAddress().toEncoded());
    EXPECT_TRUE(
        catcher.urls[0].toString().startsWith("mailto:orvix@" ORVIX_TEST_DOMAIN "?subject="));
}

#include "FeedbackTest.moc"
