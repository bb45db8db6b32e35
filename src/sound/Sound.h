#pragma once

#include "sound/KeyedArchive.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <memory>

namespace orvix {

// One typing sound: an audio file turned into a system sound once, played any
// number of times without waiting. A Sound exists only with a created system
// sound; every initialiser that cannot create one returns nullptr.
class Sound {
public:
    static std::shared_ptr<Sound> soundNamed(const QString& name) { return initWithName(name); }
    static std::shared_ptr<Sound> soundWithContentsOfURL(const QUrl& url) {
        return initWithContentsOfURL(url);
    }
    static QStringList soundUnfilteredTypes();

    // The first of the resource types, in order, that names an existing file.
    static std::shared_ptr<Sound> initWithName(const QString& name);
    static std::shared_ptr<Sound> initWithContentsOfURL(const QUrl& url);
    // From an archived "Sound" object. When the object itself is malformed
    // (wrong value types) `malformed` says why; when only its audio cannot be
    // played the error has been logged and `malformed` stays empty.
    static std::shared_ptr<Sound> initWithCoder(const archive::Node& node, QString& malformed);

    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // The archived form: class "Sound", keys version, name, transient, data or url.
    archive::NodePtr encodeWithCoder() const;
    static QString classForCoder() { return QStringLiteral("Sound"); }

    void play() const;
    QString description() const;

    QString name() const { return _name; }
    void setName(const QString& name) { _name = name; }
    bool transient() const { return _transient; }
    void setTransient(bool transient) { _transient = transient; }
    QUrl url() const { return _url; }
    uint32_t soundID() const { return _sound; }

    static QString _pathForTemporaryFileWithPrefix(const QString& prefix);
    static QUrl _urlForTemporaryFileWithPrefix(const QString& prefix);

private:
    Sound() = default;
    bool _setupSoundFile();

    uint32_t _sound = 0;
    QUrl _url;
    QString _name;
    bool _transient = false;
    // The temporary file of a transient sound belongs to the sound and goes with it.
    QString _temporaryFile;
};

} // namespace orvix
