#include "app/progress_line.h"

#include <QFileInfo>

#include "platform/terminal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velorin {

namespace {

constexpr auto kRefresh = std::chrono::milliseconds(250);

}  // namespace

std::string durationText(double seconds) {
  const long long whole = seconds > 0 ? static_cast<long long>(std::llround(seconds)) : 0;
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

std::string progressText(long long done, long long total, const QString& name, double secondsTaken,
                         int columns) {
  const QString head = QStringLiteral("velorin: %1/%2 ").arg(done).arg(total);
  QString tail = QStringLiteral(", %1 taken").arg(QString::fromStdString(durationText(secondsTaken)));
  if (done > 0 && done < total) {
    const double left = secondsTaken / static_cast<double>(done) * static_cast<double>(total - done);
    tail += QStringLiteral(", about %1 left").arg(QString::fromStdString(durationText(left)));
  }
  QString shown = QFileInfo(name).fileName();
  if (shown.isEmpty()) shown = name;
  // The line must never wrap, or every redraw would leave a line behind.
  const qsizetype room = columns > 0 ? columns - 1 - head.size() - tail.size() : shown.size();
  if (shown.size() > room) shown = room > 3 ? QStringLiteral("...") + shown.right(room - 3) : QString();
  QString line = head + shown + tail;
  if (columns > 0 && line.size() > columns - 1) line.truncate(std::max(0, columns - 1));
  return line.toLocal8Bit().toStdString();
}

ProgressLine::ProgressLine(bool draw, std::function<void()> tick) : draw_(draw), tick_(std::move(tick)) {}

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::start(long long total) {
  std::lock_guard lock(mutex_);
  total_ = total;
  started_ = Clock::now();
  if (running_) return;
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void ProgressLine::setCurrent(const QString& name) {
  std::lock_guard lock(mutex_);
  current_ = name;
}

void ProgressLine::setDone(long long done) {
  std::lock_guard lock(mutex_);
  done_ = done;
}

long long ProgressLine::done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

long long ProgressLine::total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

void ProgressLine::finish() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    clearLocked();
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void ProgressLine::printAbove(const std::function<void()>& print, bool hold) {
  std::lock_guard lock(mutex_);
  clearLocked();
  print();
  std::fflush(stdout);
  std::fflush(stderr);
  held_ = held_ || hold;
}

void ProgressLine::release() {
  std::lock_guard lock(mutex_);
  held_ = false;
}

void ProgressLine::run() {
  std::unique_lock lock(mutex_);
  while (running_) {
    wake_.wait_for(lock, kRefresh, [this] { return !running_; });
    if (!running_) break;
    if (!held_) drawLocked();
    lock.unlock();
    if (tick_) tick_();
    lock.lock();
  }
}

void ProgressLine::drawLocked() {
  if (!draw_) return;
  const double taken = std::chrono::duration<double>(Clock::now() - started_).count();
  const std::string text = progressText(done_, total_, current_, taken, standardErrorColumns());
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::clearLocked() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace velorin
