#include "sound/TemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvix {
namespace {

struct OwnFolder {
    std::mutex mutex;
    QByteArray path;
    int fd = -1; // open for the run's life: it holds the lock
    pid_t owner = 0;
    bool exitHandlerInstalled = false;
};

OwnFolder& own() {
    static OwnFolder* folder = new OwnFolder;
    return *folder;
}

bool isIdentifier(const char* name) {
    if (std::strlen(name) != 36)
        return false;
    for (int i = 0; i < 36; ++i) {
        const char c = name[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool isOwnName(const char* name) {
    return isIdentifier(name) || std::strcmp(name, TemporaryFolder::kLibraryConfigName) == 0;
}

// The names in the folder open at `dirFd` that satisfy `keep`.
template <typename Keep> std::vector<std::string> namesIn(int dirFd, Keep keep) {
    std::vector<std::string> names;
    const int scanFd = ::dup(dirFd);
    if (scanFd < 0)
        return names;
    DIR* dir = ::fdopendir(scanFd);
    if (!dir) {
        ::close(scanFd);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (keep(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

// Removes the regular files with our names from the folder open at `dirFd`.
void removeOwnFiles(int dirFd) {
    for (const std::string& name : namesIn(dirFd, isOwnName)) {
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirFd, name.c_str(), 0);
    }
}

void removeOwnFolderAtExit() {
    OwnFolder& folder = own();
    std::lock_guard lock(folder.mutex);
    // A forked child that exits runs this too; the folder is its parent's.
    if (folder.fd < 0 || folder.owner != ::getpid())
        return;
    removeOwnFiles(folder.fd);
    ::rmdir(folder.path.constData()); // stays if something else was put there
    ::close(folder.fd);
    folder.fd = -1;
}

bool stillThere(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

} // namespace

bool TemporaryFolder::isOwnFileName(const QString& name) {
    return isOwnName(QFile::encodeName(name).constData());
}

QString TemporaryFolder::path() {
    OwnFolder& folder = own();
    std::lock_guard lock(folder.mutex);
    if (folder.fd >= 0 && folder.owner == ::getpid() && stillThere(folder.fd))
        return QFile::decodeName(folder.path);
    if (folder.fd >= 0) {
        ::close(folder.fd);
        folder.fd = -1;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        QByteArray made = QFile::encodeName(QDir::tempPath()) + '/' + kPrefix + "XXXXXX";
        if (!::mkdtemp(made.data()))
            return {};
        const int fd = ::open(made.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Another run's clean-up may have taken the folder for a leftover
        // between its making and this lock: it is gone (or going), make another.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !stillThere(fd)) {
            ::close(fd);
            continue;
        }
        folder.path = made;
        folder.fd = fd;
        folder.owner = ::getpid();
        if (!folder.exitHandlerInstalled) {
            folder.exitHandlerInstalled = true;
            std::atexit(removeOwnFolderAtExit);
        }
        return QFile::decodeName(made);
    }
    return {};
}

int TemporaryFolder::removeLeftovers() {
    const QByteArray base = QFile::encodeName(QDir::tempPath());
    const int baseFd = ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0)
        return 0;
    const size_t prefixLength = std::strlen(kPrefix);
    auto isRunFolder = [prefixLength](const char* name) {
        if (std::strncmp(name, kPrefix, prefixLength) != 0 || std::strlen(name) != prefixLength + 6)
            return false;
        for (const char* c = name + prefixLength; *c; ++c) {
            if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')))
                return false;
        }
        return true;
    };
    int removed = 0;
    for (const std::string& name : namesIn(baseFd, isRunFolder)) {
        // Only a real folder of ours, as a run makes it.
        struct stat st {};
        if (::fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700)
            continue;
        const int fd =
            ::openat(baseFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        // A live run holds the lock, this one's own folder included.
        if (::fstat(fd, &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev ||
            ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        removeOwnFiles(fd);
        if (::unlinkat(baseFd, name.c_str(), AT_REMOVEDIR) == 0)
            ++removed;
        ::close(fd);
    }
    ::close(baseFd);
    return removed;
}

} // namespace orvix
