#include "ui/window_job.h"

#include <QCoreApplication>
#include <QThread>

namespace velorin::ui {

WindowJobHost::WindowJobHost(QObject* parent) : QObject(parent) {
  qRegisterMetaType<qsizetype>("qsizetype");
  qRegisterMetaType<velorin::EntryReport>("velorin::EntryReport");
}

void WindowJobHost::requestCancel(bool confirmed) {
  if (confirmed) cancelConfirmed_ = true;
  cancel_ = true;
}

void WindowJobHost::resetCancel() {
  cancel_ = false;
  cancelConfirmed_ = false;
}

void WindowJobHost::setProgressRange(qsizetype maximum) { emit progressRangeChanged(maximum); }
void WindowJobHost::setProgressPosition(qsizetype position) { emit progressChanged(position); }
void WindowJobHost::setTitle(const QString& title) { emit titleChanged(title); }
void WindowJobHost::setCommandsEnabled(bool enabled, const QString& text) { emit commandsEnabledChanged(enabled, text); }
void WindowJobHost::clearPreview() { emit previewCleared(); }
void WindowJobHost::entryFinished(const EntryReport& report) { emit entryDone(report); }

bool WindowJobHost::onWindowThread(const std::function<bool()>& call) {
  if (QThread::currentThread() == thread()) return presenting_ && call();
  bool answer = false;
  QMetaObject::invokeMethod(this, [&] { answer = presenting_ && call(); }, Qt::BlockingQueuedConnection);
  return answer;
}

bool WindowJobHost::showMessage(const JobMessage& message) {
  // The user already agreed to stop by closing the window.
  if (message.id == text_id::kCancelQuestion && cancelConfirmed_) return true;
  return onWindowThread([&] { return presentMessage ? presentMessage(message) : true; });
}

bool WindowJobHost::cancelRequested() {
  // Taken, so that a No to the question lets the job go on until the next request.
  return cancel_.exchange(false) || cancelConfirmed_;
}

bool WindowJobHost::askPassword(QString& password) {
  return onWindowThread([&] { return presentPasswordPrompt ? presentPasswordPrompt(password) : false; });
}

WindowJob::WindowJob(QObject* parent) : QObject(parent) {
  qRegisterMetaType<velorin::JobResult>("velorin::JobResult");
}

WindowJob::~WindowJob() {
  host_.requestCancel(true);
  host_.stopPresenting();
  // A worker may be waiting for an answer from this thread: answer it until it has ended.
  while (!workerDone_) {
    QCoreApplication::sendPostedEvents(&host_, QEvent::MetaCall);
    QThread::msleep(1);
  }
  wait();
}

bool WindowJob::start(std::function<JobResult(JobHost& host)> job) {
  if (running_) return false;
  wait();
  host_.resetCancel();
  running_ = true;
  workerDone_ = false;
  worker_ = std::thread([this, job = std::move(job)] {
    const JobResult result = job(host_);
    workerDone_ = true;
    QMetaObject::invokeMethod(this, [this, result] {
      running_ = false;
      emit finished(result);
    }, Qt::QueuedConnection);
  });
  return true;
}

void WindowJob::wait() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace velorin::ui
