#include "sound/SoundTheme.h"

#include "os/Log.h"

#include <QFile>
#include <QRandomGenerator>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace orvix {
namespace {

using archive::Field;
using archive::Node;
using archive::NodePtr;
using Kind = archive::Node::Kind;

// Theme files hold a few hundred kilobytes; anything far beyond is not one.
constexpr qint64 kMaxThemeFileSize = 64 * 1024 * 1024;

class SlotDecoder {
public:
    explicit SlotDecoder(QString& error) : _error(error) {}

    bool entry(const NodePtr& node, SoundTheme::Entry& out, bool& failed) {
        failed = false;
        if (node->kind != Kind::Object || node->className() != Sound::classForCoder()) {
            out = {nullptr, node};
            return true;
        }
        if (auto it = _loaded.find(node.get()); it != _loaded.end()) {
            out = {it->second, nullptr};
            failed = !it->second;
            return true;
        }
        QString malformed;
        std::shared_ptr<Sound> sound = Sound::initWithCoder(*node, malformed);
        if (!malformed.isEmpty()) {
            _error = malformed;
            return false;
        }
        _loaded.emplace(node.get(), sound);
        if (!sound)
            ++failedSounds;
        out = {sound, nullptr};
        failed = !sound;
        return true;
    }

    bool slot(const NodePtr& node, SoundTheme::Slot& out) {
        if (node->kind == Kind::NSNull) {
            out = SoundTheme::Slot::none();
            return true;
        }
        if (node->kind == Kind::Array) {
            out.kind = SoundTheme::Slot::Kind::List;
            for (const NodePtr& item : node->items) {
                SoundTheme::Entry e;
                bool failed;
                if (!entry(item, e, failed))
                    return false;
                // A sound that cannot play leaves the list; the others still do.
                if (!failed)
                    out.list.push_back(std::move(e));
            }
            return true;
        }
        bool failed;
        if (!entry(node, out.single, failed))
            return false;
        out.kind = failed ? SoundTheme::Slot::Kind::Null : SoundTheme::Slot::Kind::Single;
        return true;
    }

    int failedSounds = 0;

private:
    QString& _error;
    std::unordered_map<const Node*, std::shared_ptr<Sound>> _loaded;
};

} // namespace

QString SoundTheme::Entry::className() const {
    if (sound)
        return Sound::classForCoder();
    if (!object)
        return QStringLiteral("(null)");
    if (!object->classes.isEmpty())
        return object->classes.first();
    switch (object->kind) {
    case Kind::String:
        return QStringLiteral("NSString");
    case Kind::Data:
        return QStringLiteral("NSData");
    case Kind::Date:
        return QStringLiteral("NSDate");
    default:
        return QStringLiteral("NSNumber");
    }
}

SoundTheme::Slot SoundTheme::Slot::ofList(std::vector<std::shared_ptr<Sound>> sounds) {
    Slot slot;
    slot.kind = Kind::List;
    for (auto& s : sounds)
        slot.list.push_back({std::move(s), nullptr});
    return slot;
}

SoundTheme::SoundTheme() : _name(QStringLiteral("Off")) {
    _sounds.assign(kRows, Row(kSlots));
}

SoundTheme::SoundTheme(const QString& name, std::vector<Row> sounds)
    : _sounds(std::move(sounds)), _name(name) {}

std::shared_ptr<SoundTheme> SoundTheme::initWithCoder(const Node& root, QString& error) {
    error.clear();
    if (root.kind != Kind::Object || root.className() != classForCoder()) {
        error = QStringLiteral("root object is not a sound theme");
        return nullptr;
    }
    const Field* nameField = root.field(QStringLiteral("name"));
    if (!nameField || !nameField->isReference || !nameField->value ||
        nameField->value->kind != Kind::String) {
        error = QStringLiteral("theme name missing or not a string");
        return nullptr;
    }
    const Field* soundsField = root.field(QStringLiteral("sounds"));
    if (!soundsField || !soundsField->isReference || !soundsField->value ||
        soundsField->value->kind != Kind::Array) {
        error = QStringLiteral("sounds table missing or not an array");
        return nullptr;
    }
    const Node& table = *soundsField->value;
    if (table.items.size() != kRows) {
        error =
            QStringLiteral("sounds table has %1 rows, not %2").arg(table.items.size()).arg(kRows);
        return nullptr;
    }
    for (const NodePtr& row : table.items) {
        if (row->kind != Kind::Array || row->items.size() != kSlots) {
            error =
                QStringLiteral("a row of the sounds table is not an array of %1 slots").arg(kSlots);
            return nullptr;
        }
    }

    auto theme = std::make_shared<SoundTheme>(nameField->value->string, std::vector<Row>{});
    SlotDecoder decoder(error);
    theme->_sounds.resize(kRows);
    for (int r = 0; r < kRows; ++r) {
        Row& row = theme->_sounds[r];
        row.resize(kSlots);
        for (int c = 0; c < kSlots; ++c)
            if (!decoder.slot(table.items[r]->items[c], row[c]))
                return nullptr;
    }
    theme->_failedSounds = decoder.failedSounds;
    return theme;
}

std::shared_ptr<SoundTheme> SoundTheme::unarchiveObjectWithFile(const QString& path,
                                                                QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open the file");
        return nullptr;
    }
    if (!file.isSequential() && file.size() > kMaxThemeFileSize) {
        error = QStringLiteral("file too large");
        return nullptr;
    }
    const QByteArray bytes = file.read(kMaxThemeFileSize + 1);
    if (bytes.size() > kMaxThemeFileSize) {
        error = QStringLiteral("file too large");
        return nullptr;
    }
    NodePtr root = archive::decodeArchive(bytes, error);
    if (!root)
        return nullptr;
    return initWithCoder(*root, error);
}

NodePtr SoundTheme::encodeWithCoder() const {
    std::unordered_map<const Sound*, NodePtr> soundNodes;
    const NodePtr null = Node::makeNull();
    auto encodeEntry = [&](const Entry& e) -> NodePtr {
        if (!e.sound)
            return e.object ? e.object : null;
        auto it = soundNodes.find(e.sound.get());
        if (it != soundNodes.end())
            return it->second;
        NodePtr node = e.sound->encodeWithCoder();
        soundNodes.emplace(e.sound.get(), node);
        return node;
    };
    std::vector<NodePtr> rows;
    for (const Row& row : _sounds) {
        std::vector<NodePtr> cells;
        cells.reserve(row.size());
        for (const Slot& slot : row) {
            switch (slot.kind) {
            case Slot::Kind::Null:
                cells.push_back(null);
                break;
            case Slot::Kind::Single:
                cells.push_back(encodeEntry(slot.single));
                break;
            case Slot::Kind::List: {
                std::vector<NodePtr> items;
                for (const Entry& e : slot.list)
                    items.push_back(encodeEntry(e));
                cells.push_back(Node::makeArray(std::move(items)));
                break;
            }
            }
        }
        rows.push_back(Node::makeArray(std::move(cells)));
    }
    auto root = Node::makeObject({classForCoder(), QStringLiteral("NSObject")});
    root->fields.emplace_back(QStringLiteral("version"), Field::integer(1));
    root->fields.emplace_back(QStringLiteral("sounds"),
                              Field::reference(Node::makeArray(std::move(rows), true)));
    root->fields.emplace_back(QStringLiteral("name"), Field::reference(Node::makeString(_name)));
    return root;
}

bool SoundTheme::isMainThread() {
    // The main thread is the one whose thread id is the process id; asked once per thread.
    thread_local const bool isMain = static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
    return isMain;
}

void SoundTheme::playSoundForKeyCode(uint64_t keyCode, uint64_t keyState) const {
    if (!isMainThread()) {
        Log::write("Sounds must be played on the main thread");
        return;
    }
    if (keyState >= _sounds.size()) {
        Log::write("Play Sound for Key State %llu out of bounds",
                   static_cast<unsigned long long>(keyState));
        return;
    }
    const Row& row = _sounds[keyState];
    if (keyCode >= row.size()) {
        Log::write("Play Sound for Key Code %llu out of bounds",
                   static_cast<unsigned long long>(keyCode));
        return;
    }
    const Slot& slot = row[keyCode];
    const Entry* entry = nullptr;
    switch (slot.kind) {
    case Slot::Kind::Null:
        return;
    case Slot::Kind::Single:
        entry = &slot.single;
        break;
    case Slot::Kind::List:
        // An empty list (every sound in it failed to load) plays nothing.
        if (slot.list.empty())
            return;
        entry = &slot.list[QRandomGenerator::global()->generate() % slot.list.size()];
        break;
    }
    if (entry->sound)
        entry->sound->play();
    else
        Log::write("Invalid sound (%s) for Key Code %llu and Key State %llu",
                   qUtf8Printable(entry->className()), static_cast<unsigned long long>(keyCode),
                   static_cast<unsigned long long>(keyState));
}

} // namespace orvix
