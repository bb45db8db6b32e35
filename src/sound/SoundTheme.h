#pragma once

#include "sound/KeyedArchive.h"
#include "sound/Sound.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvix {

// A table of typing sounds: 3 rows by key state (0 released, 1 pressed, 2)
// of 255 slots by key code. A slot holds nothing, one sound, or a list of
// sounds of which each play picks one at random. A theme never changes
// after it is made or loaded.
class SoundTheme {
public:
    static constexpr int kRows = 3;
    static constexpr int kSlots = 255;

    // A slot's content. An entry without a sound stands for an archived object
    // that is not a sound; it is kept as read and reported, under its class
    // name, when it is played.
    struct Entry {
        std::shared_ptr<Sound> sound;
        archive::NodePtr object;

        QString className() const;
    };
    struct Slot {
        enum class Kind { Null, Single, List };
        Kind kind = Kind::Null;
        Entry single;
        std::vector<Entry> list;

        static Slot none() { return {}; }
        static Slot of(std::shared_ptr<Sound> sound) {
            return {Kind::Single, {std::move(sound), {}}, {}};
        }
        static Slot ofList(std::vector<std::shared_ptr<Sound>> sounds);
        static Slot invalid(archive::NodePtr object) {
            return {Kind::Single, {nullptr, std::move(object)}, {}};
        }
    };
    using Row = std::vector<Slot>;

    // The empty theme "Off": plays nothing.
    SoundTheme();
    // A theme made by a tool.
    SoundTheme(const QString& name, std::vector<Row> sounds);

    // From the archived "SoundTheme" object; nullptr with `error` set when the
    // graph is not a theme of 3 rows of 255 slots.
    static std::shared_ptr<SoundTheme> initWithCoder(const archive::Node& root, QString& error);
    // Reads a theme file; nullptr with `error` set on any fault.
    static std::shared_ptr<SoundTheme> unarchiveObjectWithFile(const QString& path, QString& error);

    archive::NodePtr encodeWithCoder() const;
    QByteArray archivedData() const { return archive::encodeArchive(encodeWithCoder()); }
    static QString classForCoder() { return QStringLiteral("SoundTheme"); }

    QString name() const { return _name; }
    const std::vector<Row>& sounds() const { return _sounds; }
    // Sounds of the archive that could not be made playable (logged when loading).
    int failedSounds() const { return _failedSounds; }

    void playSoundForKeyCode(uint64_t keyCode, uint64_t keyState) const;

    static bool isMainThread();

private:
    std::vector<Row> _sounds;
    QString _name;
    int _failedSounds = 0;
};

} // namespace orvix
