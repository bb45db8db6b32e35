#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <mutex>

class QTimer;

namespace orvix {

// Keeps the audio output busy while typing sounds are on: holds the output
// running and plays the silent resource "silence.wav" at once and then every
// 10 seconds, so the sound server never suspends the output and the first key
// after a pause keeps its click. Each tick is also when a lost output is
// noticed and opened again without a key. Stops across system sleep
// (logind's PrepareForSleep), which lets the output pause.
class AudioKeepAlive : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 10000;

    static AudioKeepAlive* sharedInstance();

    void start();
    void stop();
    bool isRunning() const { return _timer != nullptr; }
    // The timer while running, for inspection; nullptr while stopped.
    const QTimer* timer() const { return _timer; }

    static QString OSStatusToFourChar(int32_t status);

public slots:
    void timedKeepAlive();
    void receiveSleepNotification();
    void receiveWakeNotification();

private slots:
    void prepareForSleep(bool sleeping);

private:
    AudioKeepAlive();
    void watchSleep();

    QTimer* _timer = nullptr;
    std::recursive_mutex _lock;
    uint32_t _keepAliveSound = 0;
    bool _wasRunning = false;
};

} // namespace orvix
