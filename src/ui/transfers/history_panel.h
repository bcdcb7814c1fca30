#pragma once

#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "app/program.h"
#include "app/questions.h"
#include "ui/file_launcher.h"
#include "ui/transfers/history_model.h"

namespace tiv::ui {

// The user's history of parcels under the main window's list: read again whenever this program wrote to it and
// when it comes into view (another program of the user's may have written meanwhile). A stored parcel opens on a
// double-click; its menu opens it or shows it in its folder.
class HistoryPanel final : public QWidget {
    Q_OBJECT
public:
    HistoryPanel(app::program& program, app::questions& questions, QWidget* parent = nullptr);
    // The desktop's own unless replaced (tests see what would open instead).
    void setLauncher(FileLauncher& launcher) { m_pLauncher = &launcher; }

    // Reads the history again if this program changed it since the last reading.
    void refresh();
    // Reads it again whatever changed.
    void reload();
    void clearHistory();
    // What the selected row's menu does, for a parcel stored here; nothing for one that was not.
    void openSelected();
    void showSelectedInFolder();

    [[nodiscard]] HistoryModel& rows() { return m_oRows; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The selected row's stored file; none without one.
    [[nodiscard]] std::optional<QString> selectedStoredFile() const;
    void launch(bool (FileLauncher::*how)(const QString&), const QString& path);
    void showMenu(const QPoint& at);

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    FileLauncher* m_pLauncher = &desktopLauncher();
    HistoryModel m_oRows;
    QTableView* m_pList = nullptr;
    QMenu* m_pMenu = nullptr;
    QAction* m_pOpen = nullptr;
    QAction* m_pShow = nullptr;
    std::optional<std::uint64_t> m_oGenerationRead;
};

} // namespace tiv::ui
