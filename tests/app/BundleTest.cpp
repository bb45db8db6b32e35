#include "os/Bundle.h"

#include <QDir>
#include <gtest/gtest.h>

using orvix::Bundle;

TEST(BundleTest, ResourcesAreFoundBesideTheProgramThenInThePrefix) {
    qunsetenv("ORVIX_RESOURCES");
    const QStringList paths = Bundle::resourceSearchPaths(QStringLiteral("/opt/orvix/bin"));
    ASSERT_GE(paths.size(), 2);
    EXPECT_EQ(paths.first(), QStringLiteral("/opt/orvix/share/orvix"));
    EXPECT_TRUE(paths.last().endsWith(QStringLiteral("/share/orvix")));

    qputenv("ORVIX_RESOURCES", "/tmp/elsewhere");
    EXPECT_EQ(Bundle::resourceSearchPaths(QStringLiteral("/opt/orvix/bin")).first(),
              QStringLiteral("/tmp/elsewhere"));
    qunsetenv("ORVIX_RESOURCES");
}

TEST(BundleTest, HelperProgramsAreFoundBesideTheProgramThenInLibexec) {
    const QStringList paths = Bundle::auxiliarySearchPaths(QStringLiteral("/opt/orvix/bin"));
    ASSERT_EQ(paths.size(), 3);
    EXPECT_EQ(paths[0], QStringLiteral("/opt/orvix/bin"));
    EXPECT_EQ(paths[1], QStringLiteral("/opt/orvix/libexec/orvix"));
    EXPECT_TRUE(paths[2].endsWith(QStringLiteral("/orvix")));
    // Names are file names: nothing outside those folders can be reached.
    EXPECT_TRUE(Bundle::pathForAuxiliaryExecutable(QStringLiteral("../bin/orvix-fetch")).isEmpty());
    EXPECT_TRUE(Bundle::pathForAuxiliaryExecutable(QString()).isEmpty());
    EXPECT_TRUE(Bundle::pathForAuxiliaryExecutable(QStringLiteral("no-such-helper")).isEmpty());
}

TEST(BundleTest, MissingResourcesAnswerEmpty) {
    const Bundle& bundle = Bundle::mainBundle();
    EXPECT_TRUE(bundle.pathForResource(QStringLiteral("no-such-resource"), QStringLiteral("png"))
                    .isEmpty());
    EXPECT_TRUE(bundle.pathForResource(QString(), QStringLiteral("png")).isEmpty());
}
