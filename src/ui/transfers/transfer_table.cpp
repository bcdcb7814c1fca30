#include "ui/transfers/transfer_table.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <vector>

#include "ui/transfers/transfer_columns.h"

namespace tiv::ui {

namespace {
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

// Watches the view's viewport, whose size is final only once the window's layout has placed the view: a window's
// own resize comes before that while it is hidden.
class ColumnFitter final : public QObject {
public:
    explicit ColumnFitter(QTableView* table) : QObject(table), m_pTable(table) {
        table->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && watched == m_pTable->viewport()) {
            fitTransferColumns(*m_pTable);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTableView* m_pTable;
};
} // namespace

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
    new ColumnFitter(table);
    return table;
}

std::vector<std::uint64_t> cancellableSelection(const QTableView& table, const TransferListModel& rows) {
    std::vector<std::uint64_t> ids;
    for (const QModelIndex& selected : table.selectionModel()->selectedRows()) {
        const app::transfer_view& transfer = rows.transferAt(selected.row());
        if (!transfer.finished) {
            ids.push_back(transfer.id);
        }
    }
    return ids;
}

int transferTableWidth(const QTableView& table) {
    int width = 2 * table.frameWidth() + table.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (const transfer_column& column : transfer_columns) {
        width += column.width;
    }
    return width;
}

} // namespace tiv::ui
