#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTableView>
#include <QTimer>

#include "app/program_spine.h"
#include "app/questions.h"
#include "ui/transfer_list_model.h"

namespace tiv::ui {

// The program's home: the parcels friends are sending here, refreshed from the receiver's snapshots twice a
// second, whether the program listens at all, and the menu. Closing it (the close box, Escape, "&Exit") ends the
// program after the questions the quit paths ask; Return does nothing.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int refresh_period_ms = 500;
    static constexpr QSize smallest_size{350, 250};

    MainWindow(program_spine& spine, app::questions& questions, QWidget* parent = nullptr);

    // One refresh of the rows and the listening line, as the timer runs it.
    void refresh();
    // "&Exit": asks first, then closes as the close box does.
    void exitCommand();
    void clearCompleted();

    [[nodiscard]] TransferListModel& transfers() { return m_oTransfers; }
    [[nodiscard]] bool ended() const { return m_bEnded; }

signals:
    void aboutRequested();
    // The program has stopped its listener and transfers; the window closes next.
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    QWidget* buildCentre();
    // The quit paths' common end: asks about running transfers, then stops everything. False when the user
    // chose to stay.
    bool endProgram();
    void fitColumns();
    void showListenStatus();

    program_spine& m_oSpine;
    app::questions& m_oQuestions;
    TransferListModel m_oTransfers;
    QTableView* m_pList = nullptr;
    QLabel* m_pListenStatus = nullptr;
    QTimer m_oRefreshTimer;
    bool m_bEnded = false;
};

} // namespace tiv::ui
