#include "ui/transfer_table.h"

#include <QHeaderView>
#include <vector>

#include "ui/transfer_columns.h"

namespace tiv::ui {

QTableView* makeTransferTable(QAbstractItemModel* model, const char* objectName) {
    auto* table = new QTableView;
    table->setObjectName(objectName);
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSortingEnabled(false);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->horizontalHeader()->setSectionsClickable(false);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    for (std::size_t column = 0; column < transfer_columns.size(); ++column) {
        table->setColumnWidth(static_cast<int>(column), transfer_columns[column].width);
    }
    return table;
}

void fitTransferColumns(QTableView& table) {
    std::vector<int> widths;
    for (int column = 0; column < table.model()->columnCount(); ++column) {
        widths.push_back(table.columnWidth(column));
    }
    const std::vector<int> fitted = fittedColumnWidths(widths, table.viewport()->width());
    for (int column = 0; column < static_cast<int>(fitted.size()); ++column) {
        table.setColumnWidth(column, fitted[column]);
    }
}

} // namespace tiv::ui
