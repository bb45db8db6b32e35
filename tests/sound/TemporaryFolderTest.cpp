// Only this user's unlocked folders of ended runs, holding only a run's files, are removed.
#include "sound/TemporaryFolder.h"

#include "SoundTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using namespace orvix;

namespace {

constexpr const char* kIdentifier = "0F8B4C6E-2D4A-4B7E-9C1D-3E5F7A9B1C2D";

struct Leftover {
    const char* name;  // under the temporary directory
    QStringList files; // in it
    int mode;          // of the folder
    bool locked;       // a live run holds it
    bool symlink;      // the name is a link to a real folder elsewhere
    bool removed;
};

TEST(TemporaryFolderTest, OnlyFoldersOfEndedRunsGoWithTheirOwnFiles) {
    const QString base = QDir::tempPath();
    const QString own = TemporaryFolder::path();
    ASSERT_FALSE(own.isEmpty());
    EXPECT_EQ(QFileInfo(own).absolutePath(), QFileInfo(base).absoluteFilePath());
    EXPECT_EQ(QFile::permissions(own) & (QFile::ReadOther | QFile::ReadGroup | QFile::ExeOther),
              QFileDevice::Permissions());
    ASSERT_TRUE(test::writeFile(own + QStringLiteral("/") + QLatin1String(kIdentifier), "RIFF"));

    const QString id = QLatin1String(kIdentifier);
    const std::vector<Leftover> cases = {
        {"orvix-sounds-aB3dE9", {id, "alsoft.conf"}, 0700, false, false, true},
        {"orvix-sounds-000000", {}, 0700, false, false, true},
        {"orvix-sounds-Live01", {id}, 0700, true, false, false},
        {"orvix-sounds-Other1", {id, "notes.txt"}, 0700, false, false, false},
        {"orvix-sounds-Lower1", {id.toLower()}, 0700, false, false, false},
        {"orvix-sounds-Open01", {id}, 0755, false, false, false},
        {"orvix-sounds-Link01", {id}, 0700, false, true, false},
        {"orvix-sounds-short", {id}, 0700, false, false, false},
        {"orvix-sound-abcdef", {id}, 0700, false, false, false},
    };
    std::vector<int> locks;
    for (const Leftover& c : cases) {
        const QString path = base + QStringLiteral("/") + QLatin1String(c.name);
        QString real = path;
        if (c.symlink) {
            real = test::scratchDir() + QStringLiteral("/target-") + QLatin1String(c.name);
            ASSERT_TRUE(QFile::link(real, path));
        }
        ASSERT_TRUE(QDir().mkpath(real));
        ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), static_cast<mode_t>(c.mode)), 0);
        for (const QString& file : c.files)
            ASSERT_TRUE(test::writeFile(real + QStringLiteral("/") + file, "RIFF"));
        if (c.locked) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
            locks.push_back(fd);
        }
    }

    EXPECT_EQ(TemporaryFolder::removeLeftovers(), 2);
    for (const Leftover& c : cases) {
        const QString path = base + QStringLiteral("/") + QLatin1String(c.name);
        EXPECT_EQ(!QFileInfo(path).exists() && !QFileInfo(path).isSymLink(), c.removed) << c.name;
        if (!c.removed && !c.symlink && c.files.contains(QStringLiteral("notes.txt"))) {
            EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral("/notes.txt"))) << c.name;
        }
        if (c.symlink) {
            EXPECT_EQ(QDir(QFileInfo(path).symLinkTarget()).entryList(QDir::Files).size(), 1);
        }
    }
    // This run's folder stays, with what it holds.
    EXPECT_TRUE(QFileInfo::exists(own + QStringLiteral("/") + id));
    for (int fd : locks)
        ::close(fd);
    // Once its run has let go, a folder is a leftover like any other.
    EXPECT_EQ(TemporaryFolder::removeLeftovers(), 1);
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("/orvix-sounds-Live01")));
}

} // namespace
