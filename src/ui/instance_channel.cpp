#include "ui/instance_channel.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

namespace tiv::ui {

namespace {
// A request is a few paths: anything larger is not one.
constexpr qint64 largest_request = 4 * 1024 * 1024;

bool carriesNewline(const QString& field) {
    return field.contains('\n') || field.contains('\r');
}
} // namespace

std::optional<InstanceRequest> requestFromArguments(const QStringList& arguments) {
    QStringList words = arguments;
    InstanceRequest request;
    if (!words.isEmpty() && words.front() == "--send") {
        words.pop_front();
        if (!words.isEmpty() && !QFileInfo::exists(words.front())) {
            request.friendName = words.takeFirst();
        }
    }
    for (const QString& word : words) {
        if (word.startsWith("--") || carriesNewline(word)) {
            return std::nullopt;
        }
        request.files << QFileInfo(word).absoluteFilePath();
    }
    if (carriesNewline(request.friendName)) {
        return std::nullopt;
    }
    return request;
}

QByteArray encodeRequest(const InstanceRequest& request) {
    QByteArray bytes = request.friendName.toUtf8() + '\n';
    for (const QString& file : request.files) {
        bytes += file.toUtf8() + '\n';
    }
    return bytes;
}

std::optional<InstanceRequest> decodeRequest(const QByteArray& bytes) {
    if (bytes.isEmpty() || !bytes.endsWith('\n')) {
        return std::nullopt;
    }
    QList<QByteArray> lines = bytes.chopped(1).split('\n');
    InstanceRequest request{.friendName = QString::fromUtf8(lines.takeFirst()), .files = {}};
    for (const QByteArray& line : lines) {
        if (line.isEmpty() || !QDir::isAbsolutePath(QString::fromUtf8(line))) {
            return std::nullopt;
        }
        request.files << QString::fromUtf8(line);
    }
    return request;
}

bool handToRunningInstance(const QString& socketPath, const InstanceRequest& request, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    socket.write(encodeRequest(request));
    socket.disconnectFromServer();
    return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(timeoutMs);
}

bool instanceRunning(const QString& socketPath, int timeoutMs) {
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    return probe.waitForConnected(timeoutMs);
}

InstanceServer::InstanceServer(const QString& socketPath, QObject* parent) : QObject(parent) {
    // Only this user may hand the program files to send.
    // Listening replaces whatever is at the path, so the running program is asked first.
    if (instanceRunning(socketPath)) {
        return;
    }
    // Nobody answers on it: what is there a program that crashed left behind.
    QLocalServer::removeServer(socketPath);
    m_oServer.setSocketOptions(QLocalServer::UserAccessOption);
    (void)m_oServer.listen(socketPath);
    connect(&m_oServer, &QLocalServer::newConnection, this, &InstanceServer::takeConnection);
}

void InstanceServer::takeConnection() {
    while (QLocalSocket* socket = m_oServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The request is whole once its sender has closed its end.
        connect(socket, &QLocalSocket::readChannelFinished, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            if (const std::optional<InstanceRequest> request = decodeRequest(bytes)) {
                emit requested(*request);
            }
        });
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (socket->bytesAvailable() > largest_request) {
                socket->abort();
            }
        });
    }
}

} // namespace tiv::ui
