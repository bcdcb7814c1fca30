#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMetaMethod>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/questions.h"
#include "ui/dialogs/refresh_error_box.h"
#include "ui/file_launcher.h"
#include "ui/stranger_filter.h"
#include "ui/transfers/history_panel.h"
#include "ui/transfers/transfer_list_model.h"
#include "ui/transfers/transfer_table.h"

namespace tiv::ui {

// How many transfers some other window of the program still runs (a send window's).
using RunningCounter = std::function<std::size_t()>;

// The program's home: the parcels friends are sending here, refreshed from the receiver's snapshots twice a
// second, whether the program listens at all, and the menu. Closing it (the close box, Escape, "&Exit") ends the
// program after the questions the quit paths ask; Return does nothing.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int refresh_period_ms = 500;
    static constexpr QSize smallest_size{350, 250};

    MainWindow(app::program& program, app::questions& questions, QWidget* parent = nullptr);

    // One refresh of the rows and the listening line, as the timer runs it.
    void refresh();
    // "&Exit": asks first, then closes as the close box does.
    void exitCommand();
    void clearCompleted();
    // Asks the selected transfers that still run to stop; they end as failed rows.
    void cancelSelected();
    // Stops the selected parcels that still arrive, keeping what arrived of each for their senders to go on from.
    void pauseSelected();

    // The friend items of "&New Connection" and "&Parcel Box Directory", from the friends stored now, each
    // carrying its friend's name in data(). Runs when the window opens and whenever the friends changed.
    void rebuildProfileMenus();
    void openParcelBoxFolder(const QString& friendName);
    // Opens folders and stored parcels, and shows them in their folder: the desktop's own unless replaced (tests
    // see what would open instead).
    void setLauncher(FileLauncher& launcher);

    // Quitting ends every transfer of the program, so the question before it counts these too.
    void setOtherTransfersCounter(RunningCounter counter) { m_oOtherTransfers = std::move(counter); }

    [[nodiscard]] TransferListModel& transfers() { return m_oTransfers; }
    [[nodiscard]] HistoryPanel& history() { return *m_pHistory; }
    [[nodiscard]] bool ended() const { return m_bEnded; }

signals:
    // The commands whose windows live elsewhere. Each menu item stays disabled until something handles its
    // signal, so the menu never offers a command that does nothing.
    void newConnectionRequested(const QString& profile); // empty for a send window without a destination
    // Files and folders were dropped on the window, to be sent to a friend yet to be chosen.
    void filesDropped(const QStringList& paths);
    void friendStatusRequested();
    void friendProfilesRequested();
    void userConfigurationRequested();
    void programConfigurationRequested();
    void activityLogRequested();
    void aboutRequested();
    // The program has stopped its listener and transfers; the window closes next.
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    // A menu item whose command is one of the signals above.
    struct HandledCommand {
        QMetaMethod signal;
        QAction* item;
    };

    void buildMenus();
    void buildToolsMenu();
    void buildViewMenu();
    QAction* addRequest(QMenu* menu, const char* text, const char* objectName, void (MainWindow::*signal)());
    void enableHandledCommands();
    QWidget* buildCentre();
    void buildContextMenu();
    // The quit paths' common end: asks about running transfers, then stops everything. False when the user
    // chose to stay.
    bool endProgram();
    // The listening line and the caption, which names the address friends reach.
    void showListenStatus();
    // "Cancel" and "Cancel Selected" are offered while a selected transfer still runs.
    void enableCancelCommands();
    // The selected row's stored file, when one row is selected and it was stored.
    [[nodiscard]] QString selectedStoredPath() const;
    void launchSelected(bool (FileLauncher::*how)(const QString&));

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    TransferListModel m_oTransfers;
    QTableView* m_pList = nullptr;
    QLabel* m_pEmptyHint = nullptr;
    QLabel* m_pListenStatus = nullptr;
    // Under the list: how many connections from unknown senders were turned away (they are not listed).
    QLabel* m_pStrangerStatus = nullptr;
    StrangerFilter m_oStrangers;
    QMenu* m_pNewConnectionMenu = nullptr;
    QAction* m_pGenericConnection = nullptr;
    QMenu* m_pParcelBoxMenu = nullptr;
    // The list's commands, offered by what is selected; the buttons under the list follow its cancel and pause.
    TransferMenu m_oMenu;
    QAction* m_pOpenSelected = nullptr;
    QAction* m_pShowSelected = nullptr;
    QTabWidget* m_pTabs = nullptr;
    HistoryPanel* m_pHistory = nullptr;
    std::vector<HandledCommand> m_aHandledCommands;
    FileLauncher* m_pLauncher = &desktopLauncher();
    RunningCounter m_oOtherTransfers;
    QTimer m_oRefreshTimer;
    bool m_bEnded = false;
    RefreshErrorBox m_oRefreshError;
};

} // namespace tiv::ui
