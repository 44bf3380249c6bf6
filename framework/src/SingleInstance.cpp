// One running program per user and preferences folder: the first start
// listens on a local socket; a later one asks it to come forward and ends.
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QStandardPaths>
#include <QtNetwork/QLocalServer>
#include <QtNetwork/QLocalSocket>
#include <cstdio>

#include "FrameworkInternal.h"
#include "chimewick/Log.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace rb {
namespace {

QString InstanceName(const String& appId) {
  // Two users, or two preferences folders, are two separate programs.
  const QByteArray folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toUtf8();
  const QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(12);
  return ToQString(appId) + QStringLiteral("-%1-").arg(::getuid()) + QString::fromLatin1(digest);
}

bool AskRunningInstanceToActivate(const QString& name) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(1000)) return false;
  socket.write("activate\n");
  socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
  return true;
}

}  // namespace

bool ClaimSingleInstance(const String& appId) {
  if (QCoreApplication::instance() == nullptr) return true;
  const QString name = InstanceName(appId);
  if (AskRunningInstanceToActivate(name)) return false;
  // Nobody answered: a socket file left by a crashed run may still be there.
  QLocalServer::removeServer(name);
  auto* server = new QLocalServer(QCoreApplication::instance());  // lives with the runtime
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(name)) {
    chimewick::frameworkLog.line("single instance: cannot listen as %s: %s", name.toUtf8().constData(),
                                 server->errorString().toUtf8().constData());
    return true;  // run all the same; only the bringing forward is lost
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket* connection = server->nextPendingConnection()) {
      connection->deleteLater();
      RunGuarded([] {
        if (IsQuitting()) return;
        if (Ref<Application> app = RuntimeApp()) app->RaiseEvent<void>("Activate");
      });
    }
  });
  return true;
}

}  // namespace rb
