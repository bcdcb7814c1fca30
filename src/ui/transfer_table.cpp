#include "ui/transfer_table.h"

#include <QHeaderView>
#include <QStyle>
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

int transferTableWidth(const QTableView& table) {
    int width = 2 * table.frameWidth() + table.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (const transfer_column& column : transfer_columns) {
        width += column.width;
    }
    return width;
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
