// One program per user: a second start hands its command line to the first over a local socket
// and exits; the first comes to the front and adds the files.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace calvex::ui {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  // `key` names the socket; DefaultKey() is one per user.
  explicit SingleInstance(QString key, QObject* parent = nullptr);
  ~SingleInstance() override;

  static QString DefaultKey();

  // Sends the command line to a running instance. True when one took it (this start should
  // then end).
  bool HandOver(const QStringList& arguments, const QString& workingDirectory,
                int timeoutMs = 2000);

  // Starts answering later starts. False when the socket cannot be set up (the program then runs
  // on its own).
  bool Listen();

 signals:
  void commandLineReceived(const QStringList& arguments, const QString& workingDirectory);

 private:
  QString key_;
  QLocalServer* server_ = nullptr;
};

}  // namespace calvex::ui
