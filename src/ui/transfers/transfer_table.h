#pragma once

#include <QAction>
#include <QMenu>
#include <QTableView>
#include <cstdint>
#include <vector>

#include "ui/transfers/transfer_list_model.h"

namespace tiv::ui {

// A transfer list's view over `model`: whole rows selected, headers that do not sort, each column at its opening
// width and spread over the view's width whenever that changes (by their current shares, none narrower than it
// opened), and the context menu left to the window.
[[nodiscard]] QTableView* makeTransferTable(QAbstractItemModel* model, const char* objectName);

// The context menu of a transfer list, the same in the receiving and the sending window: "Clear Completed",
// "Pause Selected", "Resume Selected" and "Cancel Selected" in that order, then the window's own commands. It opens
// where the list was right-clicked. The window connects each command and offers it as the selected rows allow;
// the selection commands start disabled.
struct TransferMenu {
    QMenu* menu = nullptr;
    QAction* clearCompleted = nullptr;
    QAction* pauseSelected = nullptr;
    QAction* resumeSelected = nullptr;
    QAction* cancelSelected = nullptr;

    // One of the window's own commands, after those above.
    QAction* add(const char* text, const char* objectName) const;
};
// The menu of `table`, owned by `window`.
[[nodiscard]] TransferMenu attachTransferMenu(QTableView& table, QWidget& window);

// The width `table` needs to show every column at its opening width without scrolling sideways.
[[nodiscard]] int transferTableWidth(const QTableView& table);

// The rows selected, in the order they were selected.
[[nodiscard]] std::vector<int> selectedRows(const QTableView& table);
// The ids of the selected transfers that have not ended yet: those a cancel can still stop.
[[nodiscard]] std::vector<std::uint64_t> cancellableSelection(const QTableView& table, const TransferListModel& rows);

// Runs `refresh` on the table's rows and brings the newest row into view when it added rows.
template <typename Refresh> void refreshKeepingNewestInView(QTableView& table, Refresh refresh) {
    const int before = table.model()->rowCount();
    refresh();
    const int after = table.model()->rowCount();
    if (after > before) {
        // The view lays new rows out later, and would scroll only as far as its old rows reach until then.
        table.doItemsLayout();
        table.scrollTo(table.model()->index(after - 1, 0));
    }
}

} // namespace tiv::ui
