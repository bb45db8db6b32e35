#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <map>
#include <optional>
#include <string>

namespace orvix::test {

// HOME and XDG folders (with `privateRuntime` an owner-only runtime too) for one test.
class TempHome {
public:
    explicit TempHome(bool privateRuntime = false) {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                 "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
            _saved[name] =
                qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
        qputenv("HOME", path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (path() + "/.config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", (path() + "/.local/share").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (path() + "/.cache").toLocal8Bit());
        qputenv("XDG_STATE_HOME", (path() + "/.local/state").toLocal8Bit());
        if (privateRuntime) {
            QDir().mkpath(runtimeDir());
            QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner);
            qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
        }
    }
    ~TempHome() {
        for (const auto& [name, value] : _saved)
            value ? qputenv(name.c_str(), *value) : qunsetenv(name.c_str());
    }
    QString path() const { return _dir.path(); }
    QString file(const QString& relative) const { return _dir.filePath(relative); }
    QString runtimeDir() const { return file(QStringLiteral("runtime")); }

private:
    QTemporaryDir _dir;
    std::map<std::string, std::optional<QByteArray>> _saved;
};

} // namespace orvix::test
