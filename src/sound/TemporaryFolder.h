#pragma once

#include <QString>

namespace orvix {

// The run's own folder for temporary sound files: "orvix-sounds-XXXXXX" in
// the system's temporary directory, readable by this user only, made on first
// use and removed with what it holds when the process exits. /tmp is shared
// by every user and every run, so the folder stands in for a private
// temporary directory. The run holds a lock on it for its whole life; a
// folder whose lock nobody holds was left by a run that ended without
// cleaning up (a crash or a kill), and removeLeftovers() takes it away.
class TemporaryFolder {
public:
    // The folder's path; empty when it cannot be made.
    static QString path();

    // Removes the folders of ended runs of this user, with the files a run
    // puts there (sound files named by a bare identifier, the audio
    // library's settings) and nothing else: a folder holding anything else
    // stays. Answers how many folders went.
    static int removeLeftovers();

    // Whether `name` is one of the file names a run puts in its folder.
    static bool isOwnFileName(const QString& name);

    static constexpr const char* kPrefix = "orvix-sounds-";
    static constexpr const char* kLibraryConfigName = "alsoft.conf";
};

} // namespace orvix
