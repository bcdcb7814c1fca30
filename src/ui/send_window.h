#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFuture>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/program.h"
#include "app/questions.h"
#include "app/send_service.h"
#include "app/status.h"
#include "ui/dialogs/refresh_error_box.h"
#include "ui/transfers/transfer_list_model.h"
#include "ui/transfers/transfer_table.h"

namespace tiv::ui {

// One destination's outgoing parcels: a friend chosen from the list (or an address and port given by hand), files
// chosen or dropped onto the window, one row per file refreshed twice a second. The destination is fixed by the
// first send, or from the start when the window opens for one friend. Name lookups, pings and the final stop run
// on workers, so the window never freezes; closing with transfers running asks first.
class SendWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int refresh_period_ms = 500;
    static constexpr QSize smallest_size{329, 250};

    // Opens at the next send window position. With `presetFriend` the window sends only to that friend.
    SendWindow(app::program& program, app::questions& questions, const QString& presetFriend = {});
    ~SendWindow() override;

    // Sends each file over a connection of its own, all at once, fixing the destination first. Refused, with a
    // box saying why, while the destination is unusable or when a path is not a regular file.
    void sendFiles(const std::vector<std::string>& paths);
    // "Select && Send Files": the chooser, then sendFiles.
    void selectAndSendFiles();
    // "Select Folder": the folder chooser, then sendFiles with the folder.
    void selectAndSendFolder();
    void refresh();
    void clearCompleted();
    // Asks the selected transfers that still run to stop; each ends as a failed row saying it was stopped.
    void cancelSelected();
    // Sends the selected files that failed or stopped again; each continues from the part its receiver kept.
    void retrySelected();
    // Stops the selected files that still run, as paused: the receiver keeps what arrived of each.
    void pauseSelected();
    // Sends the selected paused files again, from the part the receiver kept.
    void resumeSelected();
    // The program is quitting and the user already agreed: stops every transfer on a worker, without a question,
    // and closes once they have let go.
    void stopAndClose();
    // The friends changed: the list of destinations is read again, unless the destination is already fixed.
    void reloadDestinations();

    [[nodiscard]] std::size_t runningCount() const { return m_pSession->running_count(); }
    // A name lookup, a ping or the final stop is still running.
    [[nodiscard]] bool busy() const;
    [[nodiscard]] TransferListModel& transfers() { return m_oTransfers; }

signals:
    // Every file of one send (one sendFiles of files, or one folder) has ended, delivered or not: once per send.
    void sendEnded(const std::vector<tiv::app::transfer_view>& rows);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls(const QString& presetFriend);
    void addDestinationChoices();
    void buildContextMenu();
    void destinationChosen(int index);
    void destinationResolved(const app::result<std::string>& address);
    // Fixes the destination at the first send: the fields lock and the caption names it. False, after saying why,
    // when it cannot be used.
    bool prepareDestination();
    void resolveCommand();
    void pingCommand();
    void updateControls();
    // "Cancel Selected" is offered while a selected transfer still runs.
    void enableCancelSelected();
    // Tells of each send whose every file has ended, once.
    void announceEndedSends();
    // The files behind the selected rows that failed or stopped, as they were given.
    [[nodiscard]] std::vector<std::string> retryableSelection() const;
    // Stops every transfer on a worker (it may take seconds), then closes the window.
    void stopThenClose();
    // Runs `job` on a worker with `running` set and the controls it concerns disabled; `done` gets its result on
    // the window's thread, unless the window is gone by then.
    template <typename Result>
    void runJob(bool SendWindow::*running, std::function<Result()> job, std::function<void(const Result&)> done);

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    std::unique_ptr<app::send_session> m_pSession;
    TransferListModel m_oTransfers;
    // Where the files go.
    QComboBox* m_pDestinations = nullptr;
    QLineEdit* m_pAddress = nullptr;
    QSpinBox* m_pPort = nullptr;
    // Each grey while its job runs.
    QPushButton* m_pSend = nullptr;
    QPushButton* m_pSendFolder = nullptr;
    QPushButton* m_pResolve = nullptr;
    QPushButton* m_pPing = nullptr;
    QTableView* m_pList = nullptr;
    // The list's commands, each offered by what the selected rows are.
    TransferMenu m_oMenu;
    QAction* m_pRetrySelected = nullptr;
    // The sends started and not yet ended, each the ids of its files.
    std::vector<std::vector<std::uint64_t>> m_aSends;
    // The file each row of a plain send came from (a folder's rows are not here).
    std::unordered_map<std::uint64_t, std::string> m_aSources;
    QTimer m_oRefreshTimer;
    QFuture<void> m_oStopping;
    QString m_strDestinationName;
    // Why the chosen friend cannot be sent to (their record or address); ok for an address given by hand.
    app::status m_oDestinationProblem;
    bool m_bPreset = false;
    bool m_bFriendChosen = false;
    bool m_bLocked = false;
    bool m_bResolvingDestination = false;
    // Handed over while the destination was still being looked up; sent once it is known.
    std::vector<std::string> m_aWaitingFiles;
    bool m_bResolving = false;
    bool m_bPinging = false;
    bool m_bClosing = false;
    bool m_bStopped = false;
    RefreshErrorBox m_oRefreshError;
};

} // namespace tiv::ui
