#pragma once

#include <QTableView>

namespace tiv::ui {

// A transfer list's view over `model`: whole rows selected, headers that do not sort, each column at its opening
// width and spread over the view's width whenever that changes (by their current shares, none narrower than it
// opened), and the context menu left to the window.
[[nodiscard]] QTableView* makeTransferTable(QAbstractItemModel* model, const char* objectName);

// The width `table` needs to show every column at its opening width without scrolling sideways.
[[nodiscard]] int transferTableWidth(const QTableView& table);

} // namespace tiv::ui
