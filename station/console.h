#ifndef CONSOLE_H
#define CONSOLE_H

#include <QtGlobal>

#include <cstdio>
#include <functional>

class QObject;

// What the station needs of the console it runs in. The platform's halves:
// console_unix.cpp, console_win.cpp.

// Writing to a pipe whose reader has gone fails instead of ending the program.
void ignoreReaderGone();

// Runs stop on the event loop of context's thread once the operator asks the
// program to stop: Ctrl+C, SIGTERM or SIGHUP (the terminal closed); on
// Windows Ctrl+C, Ctrl+Break or closing the console window. A reader that
// goes away (a pipe closed early) is no reason to stop: writing to it fails
// instead.
void onStopRequest(QObject *context, std::function<void()> stop);
// How often the operator has asked so far: a second request ends the last
// wait for the record at the end.
int stopRequests();
// Tells the console the program is done: Windows waits for that before it
// ends a program whose console window was closed.
void consoleFinished();

// Whether the stream is a terminal, where live lines can be redrawn in place
// (on Windows, once the console has been asked to read the escape codes).
bool isLiveTerminal(FILE *stream);

// Writes all of the bytes to the stream's descriptor, without the C library's
// buffer; false once the reader has gone or the output has failed.
bool writeAll(FILE *stream, const char *data, qint64 size);

#endif // CONSOLE_H
