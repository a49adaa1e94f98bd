// The window mode of the program: start-up, the event loop, shutdown.
#pragma once

namespace velorin::ui {

// Runs the program with its window; returns the process's exit code.
int runWindowApplication(int argc, char** argv);

}  // namespace velorin::ui
