// The headless mode's progress line on a terminal: the count, the file being converted, the time
// taken and the time still to go, on standard error. A thread of its own redraws it several times
// a second, so that it moves while one large file converts, and lets the host act on a clock
// (the deadline of a stop) while the job's thread is busy.
#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace velorin {

// "velorin: 3/10 photo.jpg, 0:12 taken, about 0:40 left", cut to columns characters (the file
// name gives way first; 0: no limit). Nothing is estimated before the first file is done.
std::string progressText(long long done, long long total, const QString& name, double secondsTaken,
                         int columns);

// "0:07", "12:34", "1:02:03".
std::string durationText(double seconds);

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // draw: whether the line is shown at all (standard error is a terminal). tick runs on the
  // line's thread at every refresh, outside its lock.
  ProgressLine(bool draw, std::function<void()> tick);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void start(long long total);
  void setCurrent(const QString& name);
  void setDone(long long done);
  // Stops refreshing and clears the line; safe to call twice.
  void finish();

  // Runs print with the line cleared and not redrawn meanwhile, so that messages never mix with
  // it. When hold is set the line stays away until release() (a password prompt).
  void printAbove(const std::function<void()>& print, bool hold = false);
  void release();

  long long done() const;
  long long total() const;

 private:
  void run();
  void drawLocked();
  void clearLocked();

  const bool draw_;
  const std::function<void()> tick_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool running_ = false;
  bool held_ = false;
  bool shown_ = false;
  long long done_ = 0;
  long long total_ = 0;
  QString current_;
  Clock::time_point started_;
};

}  // namespace velorin
