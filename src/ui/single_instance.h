// One running window per user: the first process listens on a local socket; a later start
// connects, asks it to come to the front and ends.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace velorin::ui {

// "Velorin_main_class" plus the user id, so that two users of one machine each have their window.
QString instanceServerName();

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QString name, QObject* parent = nullptr);
  ~SingleInstance() override;

  // When another process already listens under the name, asks it to come to the front and
  // returns false. Otherwise starts listening (replacing a socket a crashed process left
  // behind) and returns true; a socket that cannot be created still returns true, so the
  // program runs, only without the hand-over.
  bool claim();

 signals:
  // A later start asked this window to come to the front.
  void activationRequested();

 private:
  QString name_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace velorin::ui
