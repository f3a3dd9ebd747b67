#pragma once

// Where the pieces of this installation are, told from the running program's own file: the
// command-line program users start (bin/tarnwick) and the folder of the tray application, the
// daemon and its scripts (libexec/tarnwick). The build tree has the same layout.

#include <QString>

namespace ProgramPaths {

// The tray application's file name in the libexec folder.
inline constexpr char kTrayApplication[] = "tarnwick-app";

// The program to start for the tray application: for the login item and for a restart. From the
// tray application in its libexec folder, the command-line program beside that folder; from any
// other program (a test), that program itself.
QString launcher();

// The folder of the daemon and its install scripts.
QString bundleDir();

}  // namespace ProgramPaths
