// The terminal and the signals of a program run from a shell.
#pragma once

#include <QByteArray>

#include <atomic>

namespace velorin {

bool standardInputIsTerminal();
bool standardErrorIsTerminal();

// Reads one line from standard input, without echo when it is a terminal; the line ending is
// removed. False at the end of the input.
bool readLineWithoutEcho(QByteArray& line);

// The first SIGINT (SIGTERM, SIGHUP) writes note (it must stay valid; null for none) to standard
// error and sets the flag that interruptRequested reads, and stop too when given; a second one
// ends the program at once, as if none was caught.
void installInterruptHandler(const char* note, std::atomic<bool>* stop = nullptr);
bool interruptRequested();

// The width of the terminal on standard error in characters, 0 when it is none or cannot tell.
int standardErrorColumns();

}  // namespace velorin
