#ifndef CONSOLE_H
#define CONSOLE_H

#include <functional>

class QObject;

// What the station needs of the console it runs in, on each platform.

// Runs stop on the event loop of context's thread once the operator asks the
// program to stop: Ctrl+C or SIGTERM; Ctrl+C or Ctrl+Break on Windows.
void onStopRequest(QObject *context, std::function<void()> stop);

// Whether standard output is a terminal, where a live progress bar can be drawn.
bool outputIsTerminal();

#endif // CONSOLE_H
