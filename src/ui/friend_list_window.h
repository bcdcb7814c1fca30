#pragma once

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/friend_conversation.h"
#include "app/friends/friend_ping.h"
#include "app/program.h"

namespace tiv::ui {

// Every friend with whether their machine answers pings and whether their program answers a login check. Pinging
// runs on a worker, one run at a time; its reports come back as queued calls that a closed (or deleted) window simply
// never receives, and a timer copies the latest states into the "Ping Status" column while the window is shown. Login
// checks run on workers too, each friend's at most once at a time, and their answers go straight to "Login Status".
// Closing only hides it. A friend's row is also where a send to them starts: its menu, a double-click, or files
// dropped on it.
class FriendListWindow final : public QDialog {
    Q_OBJECT
public:
    static constexpr int status_period_ms = 100;
    static constexpr QSize smallest_size{540, 200};

    // `pinger` runs on a worker thread; tests give one whose results they choose.
    explicit FriendListWindow(app::program& program, app::friend_ping_run pinger = app::ping_friend_addresses,
                              QWidget* parent = nullptr);
    ~FriendListWindow() override;

    // Pings every friend again and checks their logins; nothing while a run is under way or when there are no
    // friends.
    void refreshAll();
    // Pings the selected friend alone; refused while a run is under way.
    void pingSelected();
    // Asks the selected friend's program whether it runs; nothing while its last check is under way.
    void checkLoginSelected();
    // A window that sends messages to the selected friend.
    void openInstantMessage();
    // A send window for the selected friend.
    void sendFilesToSelected();
    // Reads the friends again, at once or, while a run is under way, when it ends (its states belong to the rows
    // it started with).
    void reloadFriends();

    [[nodiscard]] bool pinging() const { return m_bPinging; }
    [[nodiscard]] QTreeWidget* list() const { return m_pList; }

signals:
    // A send to `friendName` of `paths` (none: the user chooses them in the send window).
    void sendFilesRequested(const QString& friendName, const QStringList& paths);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct FriendRow {
        QString name;
        QString address;
        app::friend_ping_state state = app::friend_ping_state::unknown;
        QString login; // what the last login check said; empty before the first
        bool checking = false;
    };

    void loadFriends();
    // "on the LAN at 192.168.1.23" in the login column for a friend announced there now, as of the last refresh.
    void showLanPresence();
    void startPing(std::vector<std::size_t> rows);
    void startLoginChecks(const std::vector<std::size_t>& rows);
    // On the window thread, from a check's queued answer: for the friend of that name, if still listed.
    void takeLogin(const QString& name, const app::friend_reply& reply);
    // On the window thread, from the worker's queued reports.
    void takeProgress(const app::friend_ping_progress& progress);
    void showStates();
    void showContextMenu(const QPoint& at);
    void updateCommands();
    // The columns share the list's width in the proportions they start with, never narrower than at the start.
    void fitColumns();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Files dragged over the list go to the friend under the pointer; true when the event was one of the drag's.
    bool takeDrag(QEvent* event);

    app::program& m_oProgram;
    app::friend_ping_run m_oPinger;
    // Set when the window goes, so a real run stops sweeping for nobody.
    std::shared_ptr<std::atomic<bool>> m_pStop = std::make_shared<std::atomic<bool>>(false);
    std::vector<FriendRow> m_aRows;
    std::vector<std::size_t> m_aPingedRows; // the rows of the run under way, in the order it reports them
    bool m_bPinging = false;
    bool m_bReloadWhenDone = false;
    bool m_bMenuOverRow = false;
    QTreeWidget* m_pList = nullptr;
    QPushButton* m_pRefresh = nullptr;
    QLabel* m_pProblem = nullptr;
    QMenu* m_pContextMenu = nullptr;
    // The menu's commands on the friend under the pointer; Ping also waits for the run under way.
    std::vector<QAction*> m_aRowItems;
    QAction* m_pPingItem = nullptr;
    QTimer m_oStatusTimer;
};

} // namespace tiv::ui
