#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace orvix::snth {

// A theme manifest: which audio files play for which key states and key codes.
//
//   # comment
//   press   49        space.wav                  one sound
//   press   0-48,50   key-1.wav key-2.wav        a list, one picked per play
//   release *         "key up.wav"               every key code
//   press   55-63     link:/usr/share/x.wav      referenced by URL, not embedded
//
// States: press (1), release (0), or 0, 1, 2. Codes: numbers 0-254, ranges,
// comma lists, or * for all. Later lines override earlier ones. Relative
// file paths are taken from the manifest's folder.
struct ManifestEntry {
    int state = 1;
    std::vector<int> codes;
    struct File {
        QString path; // absolute
        bool embed = true;
    };
    std::vector<File> files;
    int line = 0;
};

struct Manifest {
    std::vector<ManifestEntry> entries;
};

// Parses `text`; on failure returns false with `error` naming the line.
bool parseManifest(const QString& text, const QString& baseDir, Manifest& out, QString& error);
// Splits a line into words; double quotes group words with spaces.
QStringList splitWords(const QString& line, bool* ok = nullptr);
QString quoteWord(const QString& word);

} // namespace orvix::snth
