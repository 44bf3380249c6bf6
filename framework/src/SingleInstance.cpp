// One running program per user and preferences folder: the first start
// listens on a local socket in a folder that only its user can enter; a
// later start of the same user asks it to come forward and ends.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QStandardPaths>
#include <QtNetwork/QLocalServer>
#include <QtNetwork/QLocalSocket>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

#include "FrameworkInternal.h"
#include "chimewick/Log.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace rb {
namespace {

using chimewick::frameworkLog;

// A folder of this user's that no one else may enter.
bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & 077) == 0;
}

// Where the socket goes: $XDG_RUNTIME_DIR when it is private to this user,
// else <temp>/chimewick-<uid>, made with mode 0700 when missing. A folder
// that someone else made or may enter is not used: nothing then (and the
// reason on standard error).
std::optional<std::string> SocketFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime))
    return std::string(runtime);
  const std::string folder =
      QFile::encodeName(QDir::tempPath()).toStdString() + "/chimewick-" + std::to_string(::geteuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    frameworkLog.line("single instance: cannot make %s: %s; starting without it", folder.c_str(),
                      std::generic_category().message(error).c_str());
    return std::nullopt;
  }
  if (!IsPrivateFolder(folder)) {
    frameworkLog.line(
        "single instance: %s is not a folder of this user's that only it may enter; starting "
        "without it",
        folder.c_str());
    return std::nullopt;
  }
  return folder;
}

QString SocketPath(const std::string& folder, const String& appId) {
  // Two preferences folders are two separate programs.
  const QByteArray config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toUtf8();
  const QByteArray digest = QCryptographicHash::hash(config, QCryptographicHash::Sha1).toHex().left(12);
  return QFile::decodeName(QByteArray::fromStdString(folder)) + u'/' + ToQString(appId) + u'-' +
         QString::fromLatin1(digest);
}

enum class Answer { Nobody, HandedOver, OtherUser };

// Connects to a running instance and, when it runs as this same user, asks
// it to activate.
Answer AskRunningInstanceToActivate(const QString& path) {
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(1000)) return Answer::Nobody;
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
      peer.uid != ::geteuid()) {
    frameworkLog.line("single instance: %s is held by user %u, not by this user; not handing over",
                      path.toUtf8().constData(), unsigned(peer.uid));
    return Answer::OtherUser;
  }
  socket.write("activate\n");
  socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
  return Answer::HandedOver;
}

}  // namespace

bool ClaimSingleInstance(const String& appId) {
  if (QCoreApplication::instance() == nullptr) return true;
  const std::optional<std::string> folder = SocketFolder();
  if (!folder) return true;  // run all the same; only the bringing forward is lost
  const QString path = SocketPath(*folder, appId);
  if (AskRunningInstanceToActivate(path) == Answer::HandedOver) return false;
  // Nobody of this user answered: what is there (a socket file left by a
  // crashed run) goes, and this run takes the name.
  QLocalServer::removeServer(path);
  auto* server = new QLocalServer(QCoreApplication::instance());  // lives with the runtime
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(path)) {
    frameworkLog.line("single instance: cannot listen as %s: %s", path.toUtf8().constData(),
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
