// Which of the two modes a start asks for.
#pragma once

namespace velorin {

// True when the program is to open its window: no --convert and no --help before "--", and a
// display to open it on. Without a display the command line is handled as in the headless mode.
bool wantsWindow(int argc, char** argv);

// Runs the window mode.
int runWindowMode(int argc, char** argv);

}  // namespace velorin
