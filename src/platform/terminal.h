// The terminal and the signals of a program run from a shell.
#pragma once

#include <QByteArray>

namespace velorin {

bool standardInputIsTerminal();
bool standardErrorIsTerminal();

// Reads one line from standard input, without echo when it is a terminal; the line ending is
// removed. False at the end of the input.
bool readLineWithoutEcho(QByteArray& line);

// The first SIGINT writes note (it must stay valid) to standard error and sets the flag that
// interruptRequested reads; a second SIGINT ends the program at once, as if none was caught.
void installInterruptHandler(const char* note);
bool interruptRequested();

}  // namespace velorin
