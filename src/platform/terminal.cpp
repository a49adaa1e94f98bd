#include "platform/terminal.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace velorin {

namespace {

volatile std::sig_atomic_t interrupted = 0;
const char* interruptNote = nullptr;
std::atomic<bool>* stopFlag = nullptr;

void onInterrupt(int) {
  interrupted = 1;
  if (stopFlag) stopFlag->store(true);
  if (interruptNote) {
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, interruptNote, std::strlen(interruptNote));
  }
}

}  // namespace

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool readLineWithoutEcho(QByteArray& line) {
  termios saved {};
  const bool silenced = ::isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (silenced) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  char buffer[1024];
  const bool typed = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
  if (silenced) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!typed) return false;
  line = QByteArray(buffer);
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  return true;
}

void installInterruptHandler(const char* note, std::atomic<bool>* stop) {
  interruptNote = note;
  stopFlag = stop;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second one takes the default way out
  // A closed terminal or a polite kill stops the same way: no output is ever left half written.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool interruptRequested() { return interrupted != 0; }

int standardErrorColumns() {
  winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace velorin
