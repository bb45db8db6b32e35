#include "sound/Sound.h"

#include "os/Bundle.h"
#include "os/Log.h"
#include "sound/SystemSoundService.h"
#include "sound/TemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// Internal faults that cannot happen at run time stop the program and say which.
#define ORVIX_SOUND_ASSERT(condition, text)                                                        \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            orvix::Log::write("Assertion failed: (%s) in Sound", text);                            \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace orvix {
namespace {

// Writes `data` to a new file at `path` that only this user can read. Fails
// rather than write through anything that already exists there.
bool writeNewPrivateFile(const QString& path, const QByteArray& data) {
    const QByteArray native = QFile::encodeName(path);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    return true;
}

} // namespace

QStringList Sound::soundUnfilteredTypes() {
    return {QStringLiteral("aif"), QStringLiteral("aiff"), QStringLiteral("wav"),
            QStringLiteral("caf")};
}

std::shared_ptr<Sound> Sound::initWithName(const QString& name) {
    for (const QString& type : soundUnfilteredTypes()) {
        const QString path = Bundle::mainBundle().pathForResource(name, type);
        if (!path.isEmpty() && QFileInfo::exists(path))
            return initWithContentsOfURL(QUrl::fromLocalFile(path));
    }
    return nullptr;
}

std::shared_ptr<Sound> Sound::initWithContentsOfURL(const QUrl& url) {
    std::shared_ptr<Sound> sound(new Sound);
    sound->_transient = false;
    sound->_url = url;
    sound->_name = url.fileName();
    if (!sound->_setupSoundFile())
        return nullptr;
    return sound;
}

std::shared_ptr<Sound> Sound::initWithCoder(const archive::Node& node, QString& malformed) {
    using Kind = archive::Node::Kind;
    malformed.clear();
    if (node.kind != Kind::Object) {
        malformed = QStringLiteral("a sound is not an object");
        return nullptr;
    }
    std::shared_ptr<Sound> sound(new Sound);
    if (const archive::Field* f = node.field(QStringLiteral("name")); f && f->value) {
        if (f->value->kind != Kind::String) {
            malformed = QStringLiteral("a sound's name is not a string");
            return nullptr;
        }
        sound->_name = f->value->string;
    }
    if (const archive::Field* f = node.field(QStringLiteral("transient")); f && f->value) {
        if (f->isReference || (f->value->kind != Kind::Bool && f->value->kind != Kind::Integer)) {
            malformed = QStringLiteral("a sound's transient flag is not a boolean");
            return nullptr;
        }
        sound->_transient = f->value->kind == Kind::Bool ? f->value->boolean : f->value->integer;
    }
    if (sound->_transient) {
        QByteArray data;
        if (const archive::Field* f = node.field(QStringLiteral("data")); f && f->value) {
            if (!f->isReference || f->value->kind != Kind::Data) {
                malformed = QStringLiteral("a sound's data is not data");
                return nullptr;
            }
            data = f->value->data;
        }
        // A fresh unique name each time; if something already sits at that
        // name, try another rather than read what we did not write.
        QString path;
        for (int attempt = 0; attempt < 8 && path.isEmpty(); ++attempt) {
            const QString candidate = _pathForTemporaryFileWithPrefix(QString());
            if (writeNewPrivateFile(candidate, data))
                path = candidate;
        }
        if (path.isEmpty()) {
            Log::write("Error %d creating system sound for %s", SystemSoundService::kFileNotFound,
                       qUtf8Printable(sound->_name));
            return nullptr;
        }
        sound->_temporaryFile = path;
        sound->_url = QUrl::fromLocalFile(path);
    } else {
        if (const archive::Field* f = node.field(QStringLiteral("url")); f && f->value) {
            if (!f->isReference || f->value->kind != Kind::Url) {
                malformed = QStringLiteral("a sound's url is not a URL");
                return nullptr;
            }
            sound->_url = f->value->url;
        }
    }
    if (!sound->_setupSoundFile())
        return nullptr;
    return sound;
}

Sound::~Sound() {
    if (_sound)
        SystemSoundService::shared().dispose(_sound);
    if (!_temporaryFile.isEmpty())
        QFile::remove(_temporaryFile);
}

bool Sound::_setupSoundFile() {
    SystemSoundService& engine = SystemSoundService::shared();
    int32_t status = SystemSoundService::kFileNotFound;
    if (_url.isLocalFile())
        status = engine.createSound(_url.toLocalFile(), &_sound);
    if (status != SystemSoundService::kNoError) {
        Log::write("Error %d creating system sound for %s", status, qUtf8Printable(_name));
        _sound = 0;
        return false;
    }
    // Typing sounds play even where interface sound effects are switched off.
    status = engine.setUISound(_sound, 0);
    if (status != SystemSoundService::kNoError)
        Log::write("Error %d setting system sound flag for %s", status, qUtf8Printable(_name));
    return true;
}

QString Sound::_pathForTemporaryFileWithPrefix(const QString& prefix) {
    const QUuid uuid = QUuid::createUuid();
    ORVIX_SOUND_ASSERT(!uuid.isNull(), "uuid != NULL");
    const QString uuidStr = uuid.toString(QUuid::WithoutBraces).toUpper();
    ORVIX_SOUND_ASSERT(uuidStr.size() == 36, "uuidStr != NULL");
    // The run's own folder plays the user's temporary directory: /tmp is
    // shared, and a folder a crashed run left can be recognised and removed.
    QString folder = TemporaryFolder::path();
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QString result = QDir(folder).filePath(prefix + uuidStr);
    ORVIX_SOUND_ASSERT(!result.isEmpty(), "result != nil");
    return result;
}

QUrl Sound::_urlForTemporaryFileWithPrefix(const QString& prefix) {
    return QUrl::fromLocalFile(_pathForTemporaryFileWithPrefix(prefix));
}

archive::NodePtr Sound::encodeWithCoder() const {
    using archive::Field;
    using archive::Node;
    auto node = Node::makeObject({classForCoder(), QStringLiteral("NSObject")});
    node->fields.emplace_back(QStringLiteral("version"), Field::integer(1));
    node->fields.emplace_back(QStringLiteral("name"),
                              Field::reference(_name.isNull() ? nullptr : Node::makeString(_name)));
    node->fields.emplace_back(QStringLiteral("transient"), Field::boolean(_transient));
    if (_transient) {
        // The audio travels inside the archive, read from the file now.
        QFile file(_url.toLocalFile());
        archive::NodePtr data;
        if (_url.isLocalFile() && file.open(QIODevice::ReadOnly))
            data = Node::makeData(file.readAll());
        node->fields.emplace_back(QStringLiteral("data"), Field::reference(data));
    } else {
        node->fields.emplace_back(QStringLiteral("url"), Field::reference(Node::makeUrl(_url)));
    }
    return node;
}

void Sound::play() const {
    SystemSoundService::shared().play(_sound);
}

QString Sound::description() const {
    return QStringLiteral("<Sound: 0x%1> {name = \"%2\"; \"sound id\" = %3; transient = %4; url = "
                          "\"%5\";}")
        .arg(reinterpret_cast<quintptr>(this), 0, 16)
        .arg(_name)
        .arg(_sound)
        .arg(_transient ? QStringLiteral("YES") : QStringLiteral("NO"))
        .arg(_url.toString());
}

} // namespace orvix
