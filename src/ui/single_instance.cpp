#include "ui/single_instance.h"

#include <unistd.h>

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>

namespace calvex::ui {

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), key_(std::move(key)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultKey() {
  return QStringLiteral("VX_TOLBREK1-%1").arg(::getuid());
}

bool SingleInstance::HandOver(const QStringList& arguments, const QString& workingDirectory,
                              int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(key_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  QDataStream out(&message, QIODevice::WriteOnly);
  out << workingDirectory << arguments;
  QDataStream stream(&socket);
  stream << message;
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  // The first instance answers once it has the message, so that nothing is lost when this one
  // exits at once.
  socket.waitForReadyRead(timeoutMs);
  socket.disconnectFromServer();
  return true;
}

bool SingleInstance::Listen() {
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(key_)) {
    // A socket left by a program that died: no one answers it, so it can go.
    QLocalServer::removeServer(key_);
    if (!server_->listen(key_)) return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        QDataStream in(socket);
        in.startTransaction();
        QByteArray message;
        in >> message;
        if (!in.commitTransaction()) return;  // wait for the rest
        QDataStream body(message);
        QString directory;
        QStringList arguments;
        body >> directory >> arguments;
        socket->write("k");
        socket->flush();
        if (body.status() == QDataStream::Ok) emit commandLineReceived(arguments, directory);
      });
    }
  });
  return true;
}

}  // namespace calvex::ui
