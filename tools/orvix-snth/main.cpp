// orvix-snth: makes, inspects, unpacks and checks Orvix sound-theme files.
#include "BuildInfo.h"
#include "Manifest.h"
#include "os/Log.h"
#include "sound/AudioEngine.h"
#include "sound/KeyedArchive.h"
#include "sound/SoundTheme.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <map>
#include <string_view>
#include <unordered_map>

using namespace orvix;
using archive::Node;
using archive::NodePtr;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void printLine(FILE* out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fprintf(out, "%s\n", bytes.constData());
}

constexpr const char* kUsageText = "usage: orvix-snth create --name NAME -o OUT.snth MANIFEST\n"
                                   "       orvix-snth info FILE\n"
                                   "       orvix-snth extract FILE DIR\n"
                                   "       orvix-snth verify FILE\n"
                                   "       orvix-snth --help | --version\n";

int usage() {
    std::fputs(kUsageText, stderr);
    return kUsage;
}

bool readFile(const QString& path, QByteArray& bytes, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1").arg(path);
        return false;
    }
    bytes = file.read(64 * 1024 * 1024 + 1);
    if (bytes.size() > 64 * 1024 * 1024) {
        error = QStringLiteral("%1 is too large").arg(path);
        return false;
    }
    return true;
}

QString stateName(int state) {
    return state == 1   ? QStringLiteral("press")
           : state == 0 ? QStringLiteral("release")
                        : QString::number(state);
}

QString formatCodes(const std::vector<int>& codes) {
    QStringList parts;
    for (size_t i = 0; i < codes.size();) {
        size_t j = i;
        while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1)
            ++j;
        parts << (i == j ? QString::number(codes[i])
                         : QStringLiteral("%1-%2").arg(codes[i]).arg(codes[j]));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

int create(const QStringList& args) {
    QString name, out, manifestPath;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--name") && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == QStringLiteral("-o") && i + 1 < args.size())
            out = args[++i];
        else if (manifestPath.isEmpty() && !args[i].startsWith(QLatin1Char('-')))
            manifestPath = args[i];
        else
            return usage();
    }
    if (name.isEmpty() || out.isEmpty() || manifestPath.isEmpty())
        return usage();
    QByteArray text;
    QString error;
    if (!readFile(manifestPath, text, error)) {
        printLine(stderr, error);
        return kFailed;
    }
    snth::Manifest manifest;
    if (!snth::parseManifest(QString::fromUtf8(text), QFileInfo(manifestPath).absolutePath(),
                             manifest, error)) {
        printLine(stderr, QStringLiteral("%1: %2").arg(manifestPath, error));
        return kFailed;
    }

    std::map<std::pair<QString, bool>, std::shared_ptr<Sound>> sounds;
    std::vector<SoundTheme::Row> table(SoundTheme::kRows, SoundTheme::Row(SoundTheme::kSlots));
    for (const auto& entry : manifest.entries) {
        std::vector<std::shared_ptr<Sound>> list;
        for (const auto& file : entry.files) {
            auto& sound = sounds[{file.path, file.embed}];
            if (!sound) {
                sound = Sound::initWithContentsOfURL(QUrl::fromLocalFile(file.path));
                if (!sound) {
                    printLine(stderr, QStringLiteral("%1 (line %2): cannot decode %3")
                                          .arg(manifestPath)
                                          .arg(entry.line)
                                          .arg(file.path));
                    return kFailed;
                }
                sound->setTransient(file.embed);
            }
            list.push_back(sound);
        }
        for (int code : entry.codes)
            table[entry.state][code] =
                list.size() == 1 ? SoundTheme::Slot::of(list[0]) : SoundTheme::Slot::ofList(list);
    }
    const QByteArray bytes = SoundTheme(name, table).archivedData();
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        printLine(stderr, QStringLiteral("cannot write %1").arg(out));
        return kFailed;
    }
    return kOk;
}

// Loads a theme for info and verify; prints one line and returns null on failure.
std::shared_ptr<SoundTheme> load(const QString& path, NodePtr* graph = nullptr) {
    QByteArray bytes;
    QString error;
    if (!readFile(path, bytes, error)) {
        printLine(stderr, error);
        return nullptr;
    }
    NodePtr root = archive::decodeArchive(bytes, error);
    std::shared_ptr<SoundTheme> theme = root ? SoundTheme::initWithCoder(*root, error) : nullptr;
    if (!theme) {
        printLine(stderr, QStringLiteral("%1: %2").arg(path, error));
        return nullptr;
    }
    if (graph)
        *graph = root;
    return theme;
}

int info(const QString& path) {
    auto theme = load(path);
    if (!theme)
        return kFailed;
    std::unordered_map<const Sound*, const Sound*> distinct;
    int embedded = 0, linked = 0;
    qint64 audioBytes = 0;
    auto note = [&](const std::shared_ptr<Sound>& s) {
        if (!s || !distinct.emplace(s.get(), s.get()).second)
            return;
        if (s->transient()) {
            ++embedded;
            audioBytes += QFileInfo(s->url().toLocalFile()).size();
        } else {
            ++linked;
        }
    };
    printLine(stdout, QStringLiteral("Name: %1").arg(theme->name()));
    QStringList rows;
    for (int r = 0; r < SoundTheme::kRows; ++r) {
        int keys = 0, lists = 0, variants = 0;
        for (const auto& slot : theme->sounds()[r]) {
            if (slot.kind == SoundTheme::Slot::Kind::Null)
                continue;
            ++keys;
            if (slot.kind == SoundTheme::Slot::Kind::List) {
                ++lists;
                variants += static_cast<int>(slot.list.size());
                for (const auto& e : slot.list)
                    note(e.sound);
            } else {
                note(slot.single.sound);
            }
        }
        rows << QStringLiteral("State %1 (%2): %3 keys, %4 with variants (%5 sounds in lists)")
                    .arg(r)
                    .arg(stateName(r))
                    .arg(keys)
                    .arg(lists)
                    .arg(variants);
    }
    printLine(stdout, QStringLiteral("Sounds: %1 distinct, %2 embedded (%3 KB), %4 linked")
                          .arg(distinct.size())
                          .arg(embedded)
                          .arg((audioBytes + 1023) / 1024)
                          .arg(linked));
    for (const QString& row : rows)
        printLine(stdout, row);
    if (theme->failedSounds() > 0)
        printLine(stdout, QStringLiteral("Undecodable sounds: %1").arg(theme->failedSounds()));
    return kOk;
}

int verify(const QString& path) {
    // One line on failure: the loader's own lines are folded into it.
    QStringList logged;
    Log::Sink previous = Log::setSink([&logged](std::string_view line) {
        logged << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    });
    auto theme = load(path);
    Log::setSink(std::move(previous));
    if (!theme)
        return kFailed;
    if (theme->failedSounds() > 0) {
        printLine(stderr, QStringLiteral("%1: %2 sound(s) cannot be decoded (%3)")
                              .arg(path)
                              .arg(theme->failedSounds())
                              .arg(logged.join(QStringLiteral("; "))));
        return kFailed;
    }
    for (int r = 0; r < SoundTheme::kRows; ++r) {
        for (int c = 0; c < SoundTheme::kSlots; ++c) {
            const auto& slot = theme->sounds()[r][c];
            const SoundTheme::Entry* bad = nullptr;
            if (slot.kind == SoundTheme::Slot::Kind::Single && !slot.single.sound)
                bad = &slot.single;
            for (const auto& e : slot.list)
                if (!e.sound)
                    bad = &e;
            if (bad) {
                printLine(stderr, QStringLiteral("%1: key code %2, state %3 holds %4, not a sound")
                                      .arg(path)
                                      .arg(c)
                                      .arg(r)
                                      .arg(bad->className()));
                return kFailed;
            }
            if (slot.kind == SoundTheme::Slot::Kind::List && slot.list.empty()) {
                printLine(stderr, QStringLiteral("%1: key code %2, state %3 has an empty list")
                                      .arg(path)
                                      .arg(c)
                                      .arg(r));
                return kFailed;
            }
        }
    }
    return kOk;
}

// A file name for an extracted sound: the archived name without any folder,
// limited to harmless characters, never clobbering another sound's file.
QString safeFileName(const QString& archived, QSet<QString>& used) {
    QString base = QFileInfo(archived).fileName();
    for (QChar& c : base)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
              c == QLatin1Char('_') || c == QLatin1Char(' ')))
            c = QLatin1Char('_');
    if (base.isEmpty() || base.startsWith(QLatin1Char('.')))
        base.prepend(QStringLiteral("sound"));
    QString candidate = base;
    for (int n = 2; used.contains(candidate) || candidate == QStringLiteral("manifest.txt"); ++n) {
        const QFileInfo fi(base);
        candidate = QStringLiteral("%1-%2%3")
                        .arg(fi.completeBaseName())
                        .arg(n)
                        .arg(fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix());
    }
    used.insert(candidate);
    return candidate;
}

int extract(const QString& path, const QString& dirPath) {
    NodePtr root;
    if (!load(path, &root))
        return kFailed;
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("."))) {
        printLine(stderr, QStringLiteral("cannot create %1").arg(dirPath));
        return kFailed;
    }
    // The loaded theme has passed the shape checks; walk the archived graph so
    // undecodable audio is extracted too.
    const Node& table = *root->field(QStringLiteral("sounds"))->value;
    std::unordered_map<const Node*, QString> words;
    QSet<QString> used;
    auto wordFor = [&](const NodePtr& sound) -> QString {
        if (sound->kind != Node::Kind::Object || sound->className() != QStringLiteral("Sound"))
            return {};
        if (auto it = words.find(sound.get()); it != words.end())
            return it->second;
        const archive::Field* name = sound->field(QStringLiteral("name"));
        const archive::Field* transient = sound->field(QStringLiteral("transient"));
        const bool embedded = transient && transient->value && transient->value->boolean;
        QString word;
        if (embedded) {
            const archive::Field* data = sound->field(QStringLiteral("data"));
            const QString file =
                safeFileName(name && name->value ? name->value->string : QString(), used);
            QSaveFile out(dir.filePath(file));
            if (!data || !data->value || !out.open(QIODevice::WriteOnly) ||
                out.write(data->value->data) != data->value->data.size() || !out.commit())
                return {};
            word = snth::quoteWord(file);
        } else {
            const archive::Field* url = sound->field(QStringLiteral("url"));
            if (!url || !url->value || !url->value->url.isLocalFile())
                return {};
            word = snth::quoteWord(QStringLiteral("link:") + url->value->url.toLocalFile());
        }
        words.emplace(sound.get(), word);
        return word;
    };

    QStringList lines{QStringLiteral("# Extracted from %1").arg(QFileInfo(path).fileName())};
    int skipped = 0;
    for (int r = 0; r < SoundTheme::kRows; ++r) {
        std::map<QString, std::vector<int>> groups; // file list -> key codes, in file order
        std::vector<QString> order;
        for (int c = 0; c < SoundTheme::kSlots; ++c) {
            const NodePtr& slot = table.items[r]->items[c];
            if (slot->kind == Node::Kind::NSNull)
                continue;
            QStringList files;
            const std::vector<NodePtr> members =
                slot->kind == Node::Kind::Array ? slot->items : std::vector<NodePtr>{slot};
            for (const NodePtr& m : members) {
                const QString w = wordFor(m);
                if (w.isEmpty())
                    ++skipped;
                else
                    files << w;
            }
            if (files.isEmpty())
                continue;
            // A single-sound list stays a list when rebuilt.
            QString key = files.join(QLatin1Char(' '));
            if (slot->kind == Node::Kind::Array && files.size() == 1)
                key += QLatin1Char(' ') + files.first();
            if (!groups.count(key))
                order.push_back(key);
            groups[key].push_back(c);
        }
        for (const QString& key : order)
            lines << QStringLiteral("%1 %2 %3").arg(stateName(r), formatCodes(groups[key]), key);
    }
    QSaveFile manifest(dir.filePath(QStringLiteral("manifest.txt")));
    const QByteArray text = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (!manifest.open(QIODevice::WriteOnly) || manifest.write(text) != text.size() ||
        !manifest.commit()) {
        printLine(stderr, QStringLiteral("cannot write the manifest in %1").arg(dirPath));
        return kFailed;
    }
    if (skipped > 0)
        printLine(stderr,
                  QStringLiteral("%1 slot entries were not sounds and were skipped").arg(skipped));
    return kOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("orvix-snth %s\n", buildinfo::kShortVersion);
        return kOk;
    }
    QCoreApplication app(argc, argv);
    // A command-line tool reports on its own standard error, not the system log.
    Log::setSink([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
    // Sounds are decoded to check them, never played: no sound card needed.
    AudioEngine::sharedInstance().openLoopback();

    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    if (command == QStringLiteral("create"))
        return create(args);
    if (command == QStringLiteral("info") && args.size() == 1)
        return info(args[0]);
    if (command == QStringLiteral("extract") && args.size() == 2)
        return extract(args[0], args[1]);
    if (command == QStringLiteral("verify") && args.size() == 1)
        return verify(args[0]);
    return usage();
}
