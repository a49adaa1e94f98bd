// The window's conversion job: the engine's job on a worker thread, with a JobHost that carries
// every call over to the window's thread.
//
// Progress and titles arrive as queued signals; messages, the cancel question and the RAR
// password block the worker until the window has answered. Cancelling is a flag the window sets
// (Esc, the convert button, closing the window) and the worker reads between two entries.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>

#include "engine/job.h"

namespace velorin::ui {

class WindowJobHost : public QObject, public JobHost {
  Q_OBJECT
 public:
  explicit WindowJobHost(QObject* parent = nullptr);

  // How the window shows a message and asks for a password; called on the window's thread.
  // Tests replace them to answer without a dialog.
  std::function<bool(const JobMessage&)> presentMessage;
  std::function<bool(QString&)> presentPasswordPrompt;

  // Thread-safe. A plain request makes the job ask question 20304; a confirmed one (the window
  // is closing and the user already said Yes) ends the job without asking.
  void requestCancel(bool confirmed = false);
  void resetCancel();
  // From now on nothing is shown: every message is answered No at once (the window is going).
  void stopPresenting() { presenting_ = false; }

  // JobHost, called on the job's thread.
  void setProgressRange(qsizetype maximum) override;
  void setProgressPosition(qsizetype position) override;
  void setTitle(const QString& title) override;
  void setCommandsEnabled(bool enabled, const QString& convertButtonText) override;
  bool showMessage(const JobMessage& message) override;
  bool cancelRequested() override;
  bool askPassword(QString& password) override;
  void clearPreview() override;
  void entryFinished(const EntryReport& report) override;

 signals:
  void progressRangeChanged(qsizetype maximum);
  void progressChanged(qsizetype position);
  void titleChanged(const QString& title);
  void commandsEnabledChanged(bool enabled, const QString& convertButtonText);
  void previewCleared();
  // Emitted on the job's thread, for listeners that count entries as they finish.
  void entryDone(const velorin::EntryReport& report);

 private:
  // Runs call on this object's thread and waits for it.
  bool onWindowThread(const std::function<bool()>& call);

  std::atomic<bool> cancel_{false};
  std::atomic<bool> cancelConfirmed_{false};
  std::atomic<bool> presenting_{true};
};

// One job at a time on its own thread. The job's function gets a context whose host is host();
// finished is emitted on the window's thread when it has returned.
class WindowJob : public QObject {
  Q_OBJECT
 public:
  explicit WindowJob(QObject* parent = nullptr);
  ~WindowJob() override;  // waits for a running job

  WindowJobHost& host() { return host_; }
  bool isRunning() const { return running_; }

  // False when a job is already running. The function runs on the worker thread.
  bool start(std::function<JobResult(JobHost& host)> job);
  // Waits for the worker to end (after a cancel, at shutdown).
  void wait();

 signals:
  void finished(const velorin::JobResult& result);

 private:
  WindowJobHost host_;
  std::thread worker_;
  bool running_ = false;
  std::atomic<bool> workerDone_{true};
};

}  // namespace velorin::ui
