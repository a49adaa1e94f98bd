#include "ui/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace velorin::ui {

namespace {
constexpr int kHandOverTimeoutMs = 2000;
constexpr char kRaiseRequest[] = "raise\n";
}  // namespace

QString instanceServerName() {
  return QStringLiteral("Velorin_main_class_%1").arg(static_cast<qulonglong>(::getuid()));
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim() {
  {
    QLocalSocket running;
    running.connectToServer(name_);
    if (running.waitForConnected(kHandOverTimeoutMs)) {
      running.write(kRaiseRequest);
      running.waitForBytesWritten(kHandOverTimeoutMs);
      running.disconnectFromServer();
      return false;
    }
  }
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // Nobody answered, so the socket is a crashed process's leftover.
    QLocalServer::removeServer(name_);
    if (!server_->listen(name_)) return true;
  }
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (client->readAll().contains("raise")) emit activationRequested();
        client->disconnectFromServer();
      });
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace velorin::ui
