#pragma once

// What the command line says about itself: the help texts, the version line, and how it reports
// a misuse (exit status 2) or a failure (exit status 1) on standard error.

#include <QString>

namespace Usage {

constexpr int ok = 0;
constexpr int failure = 1;
constexpr int misuse = 2;

// The help of the program, of "status" and of "set".
QString program();
QString status();
QString set();

// "tarnwick <version>".
QString version();

// Writes `text` to standard output; false when the write failed (a closed pipe, a full disk).
bool print(const QString& text);

// "tarnwick[ <command>]: <message>", the usage line and where to find help on standard error;
// returns misuse.
int misused(const QString& command, const QString& message);

// "tarnwick[ <command>]: <message>" on standard error; returns failure.
int failed(const QString& command, const QString& message);

// "tarnwick[ <command>]: <message>" on standard error, for notes that are not failures.
void note(const QString& command, const QString& message);

}  // namespace Usage
