#pragma once

// Where the pieces of this installation are, told from the running program's own file: the
// command-line program users start (bin/tarnwick) and the folder of the tray application, the
// daemon and its scripts (libexec/tarnwick). The build tree has the same layout.

#include <QString>
#include <filesystem>

namespace ProgramPaths {

// The tray application's file name in the libexec folder.
inline constexpr char kTrayApplication[] = "tarnwick-app";

struct Layout {
    // The program to start for the tray application: for the login item and for a restart. From
    // the tray application in its libexec folder, the command-line program beside that folder;
    // from any other program (a test), that program itself.
    QString launcher;
    // The folder of the daemon and its install scripts.
    QString bundleDir;
};

// The layout around `program`, an absolute path; empty texts for a relative or empty one.
Layout layoutOf(const std::filesystem::path& program);

// The layout around the running program.
QString launcher();
QString bundleDir();

}  // namespace ProgramPaths
