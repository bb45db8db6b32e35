#include "sound/AudioKeepAlive.h"

#include "os/Bundle.h"
#include "os/Log.h"
#include "sound/SystemSoundService.h"

#include <QDBusConnection>
#include <QTimer>
#include <QUrl>
#include <cctype>

namespace orvix {
AudioKeepAlive* AudioKeepAlive::sharedInstance() {
    static AudioKeepAlive* instance = new AudioKeepAlive;
    return instance;
}

AudioKeepAlive::AudioKeepAlive() {
    watchSleep();
}

void AudioKeepAlive::watchSleep() {
    // logind announces sleep with true and wake with false. Without a system
    // bus (containers, CI) the keep-alive simply keeps running across sleep.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() ||
        !bus.connect(QStringLiteral("org.freedesktop.login1"),
                     QStringLiteral("/org/freedesktop/login1"),
                     QStringLiteral("org.freedesktop.login1.Manager"),
                     QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool))))
        Log::write("No system bus: the audio keep-alive will not pause across sleep");
}

void AudioKeepAlive::prepareForSleep(bool sleeping) {
    if (sleeping)
        receiveSleepNotification();
    else
        receiveWakeNotification();
}

void AudioKeepAlive::start() {
    std::lock_guard guard(_lock);
    if (_timer)
        return;
    const QString path =
        Bundle::mainBundle().pathForResource(QStringLiteral("silence"), QStringLiteral("wav"));
    int32_t status = SystemSoundService::kParamErr; // no file to make a sound from
    if (!path.isEmpty())
        status = SystemSoundService::shared().createSound(path, &_keepAliveSound);
    if (status != SystemSoundService::kNoError) {
        _keepAliveSound = 0;
        const QString url =
            path.isEmpty() ? QStringLiteral("(null)") : QUrl::fromLocalFile(path).toString();
        Log::write("Error %s creating system sound for %s",
                   qUtf8Printable(OSStatusToFourChar(status)), qUtf8Printable(url));
        return;
    }
    // The output runs for as long as the keep-alive does.
    SystemSoundService::shared().holdOutput(true);
    _timer = new QTimer(this);
    _timer->setInterval(kIntervalMs);
    connect(_timer, &QTimer::timeout, this, &AudioKeepAlive::timedKeepAlive);
    _timer->start();
    timedKeepAlive();
}

void AudioKeepAlive::stop() {
    std::lock_guard guard(_lock);
    if (!_timer)
        return;
    _timer->stop();
    delete _timer;
    _timer = nullptr;
    SystemSoundService::shared().dispose(_keepAliveSound);
    _keepAliveSound = 0;
    SystemSoundService::shared().holdOutput(false);
}

void AudioKeepAlive::timedKeepAlive() {
    SystemSoundService::shared().play(_keepAliveSound);
}

void AudioKeepAlive::receiveSleepNotification() {
    _wasRunning = _timer != nullptr;
    stop();
}

void AudioKeepAlive::receiveWakeNotification() {
    if (_wasRunning)
        start();
}

QString AudioKeepAlive::OSStatusToFourChar(int32_t status) {
    if (status == 0)
        return QStringLiteral("No error");
    const auto u = static_cast<uint32_t>(status);
    const char c[4] = {static_cast<char>(u >> 24), static_cast<char>((u >> 16) & 0xFF),
                       static_cast<char>((u >> 8) & 0xFF), static_cast<char>(u & 0xFF)};
    bool printable = true;
    for (char ch : c)
        printable = printable && std::isprint(static_cast<unsigned char>(ch));
    if (printable)
        return QStringLiteral("'") + QString::fromLatin1(c, 4) + QStringLiteral("'");
    return QString::number(status);
}

} // namespace orvix
