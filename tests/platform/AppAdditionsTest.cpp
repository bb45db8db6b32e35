#include "platform/AppAdditions.h"

#include "LogCapture.h"
#include "platform/UniversalAccess.h"

#include <gtest/gtest.h>

using namespace orvix;

namespace {

// Pins the system version for one test.
class PinnedVersion {
public:
    explicit PinnedVersion(std::optional<SystemVersion> v) {
        AppAdditions::setSystemVersionSource([v] { return v; });
    }
    ~PinnedVersion() { AppAdditions::setSystemVersionSource({}); }
};

struct TableRow {
    SystemVersion version;
    const char* textMarker; // a phrase that only the expected text holds
    AccessHelpPage page;
};

const char* kRestricted = "which is currently restricted";
const char* kAccessibilityPane = "in the Accessibility pane of System Preferences";
const char* kUniversalAccessPane = "in the Universal Access pane of System Preferences";

} // namespace

TEST(AppAdditionsTest, OutParametersMayBeNullAndFailureReportsTenZeroZero) {
    int major = -1, bugFix = -1;
    {
        PinnedVersion pin(SystemVersion{10, 7, 4});
        AppAdditions::getSystemVersion(&major, nullptr, &bugFix);
        EXPECT_EQ(major, 10);
        EXPECT_EQ(bugFix, 4);
    }
    test::LogCapture cap;
    PinnedVersion pin(std::nullopt);
    int minor = -1;
    AppAdditions::getSystemVersion(&major, &minor, &bugFix);
    EXPECT_EQ(major, 10);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(bugFix, 0);
    EXPECT_TRUE(cap.contains("Unable to obtain system version: "));
    // 10.0.0 picks the Universal Access text and the general page.
    EXPECT_NE(UniversalAccess::informativeTextForSystem("Orvix").indexOf(kUniversalAccessPane), -1);
    EXPECT_EQ(UniversalAccess::helpPageForSystem(), AccessHelpPage::General);
}

TEST(AppAdditionsTest, RunningSystemAnswersAVersion) {
    AppAdditions::setSystemVersionSource({});
    const auto v = AppAdditions::currentSystemVersion();
    ASSERT_TRUE(v.has_value());
    EXPECT_GT(v->major, 0);
}

// Versions compare as numbers; a later major passes every "or higher" test and no exact one.
TEST(AppAdditionsTest, AccessibilityTextAndHelpPageTable) {
    const TableRow rows[] = {
        {{9, 12, 0}, kUniversalAccessPane, AccessHelpPage::General},
        {{10, 4, 11}, kUniversalAccessPane, AccessHelpPage::General},
        {{10, 5, 8}, kUniversalAccessPane, AccessHelpPage::Leopard},
        {{10, 6, 8}, kUniversalAccessPane, AccessHelpPage::SnowLeopard},
        {{10, 7, 5}, kUniversalAccessPane, AccessHelpPage::Lion},
        {{10, 8, 5}, kAccessibilityPane, AccessHelpPage::MountainLion},
        {{10, 9, 5}, kRestricted, AccessHelpPage::Mavericks},
        {{10, 10, 5}, kRestricted, AccessHelpPage::Yosemite},
        {{10, 11, 6}, kRestricted, AccessHelpPage::General},
        {{11, 0, 0}, kRestricted, AccessHelpPage::General},
    };
    for (const TableRow& row : rows) {
        PinnedVersion pin(row.version);
        SCOPED_TRACE(row.version.major * 10000 + row.version.minor * 100 + row.version.bugFix);
        const QString text = UniversalAccess::informativeTextForSystem("Orvix");
        EXPECT_NE(text.indexOf(QLatin1String(row.textMarker)), -1) << text.toStdString();
        EXPECT_EQ(UniversalAccess::helpPageForSystem(), row.page);
    }
}

TEST(AppAdditionsTest, ApplicationNameFillsEveryPlaceAndPercentStaysLiteral) {
    PinnedVersion pin(SystemVersion{10, 9, 0});
    const QString text = UniversalAccess::informativeTextForSystem("My 100% Keys");
    EXPECT_EQ(text.count("My 100% Keys"), 3) << text.toStdString();
    EXPECT_EQ(text.count('%'), 3) << text.toStdString(); // no placeholder left or eaten
}
