#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace tiv::ui {

// What a later start of the desktop program asks of the one already running: files to send (to a friend, or to one
// it asks for when none is named), or, with no files, only to come to the front.
struct InstanceRequest {
    QString friendName;
    QStringList files; // absolute paths
};

// "quorvel --send [FRIEND] FILE..." and "quorvel FILE..." (a file manager's "Open With"): the first word after
// --send names a friend unless it names a file or folder that exists. None for anything else on the command line.
[[nodiscard]] std::optional<InstanceRequest> requestFromArguments(const QStringList& arguments);

// One line per field, UTF-8: the friend's name, then each file. Newlines cannot be in a name or a path the request
// carries (the arguments are refused first), so no field ends early.
[[nodiscard]] QByteArray encodeRequest(const InstanceRequest& request);
[[nodiscard]] std::optional<InstanceRequest> decodeRequest(const QByteArray& bytes);

// Hands `request` to the program listening at `socketPath`; false when none answers within `timeoutMs`.
[[nodiscard]] bool handToRunningInstance(const QString& socketPath, const InstanceRequest& request,
                                         int timeoutMs = 3000);

// Whether a program listens at `socketPath` for the requests of later starts.
[[nodiscard]] bool instanceRunning(const QString& socketPath, int timeoutMs = 1000);

// The running program's end: takes the requests of later starts. A socket a crashed program left behind is
// replaced; a socket another running program holds is left alone (listening() then says false).
class InstanceServer final : public QObject {
    Q_OBJECT
public:
    explicit InstanceServer(const QString& socketPath, QObject* parent = nullptr);

    [[nodiscard]] bool listening() const { return m_oServer.isListening(); }

signals:
    void requested(const tiv::ui::InstanceRequest& request);

private:
    void takeConnection();

    QLocalServer m_oServer;
};

} // namespace tiv::ui
