#include "ui/transfers/transfer_table.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
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

// The Percent column as a progress bar with its percent on it.
class ProgressBarDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        // The selection's background first, so a selected row stays one band across the bar's cell.
        cell.text.clear();
        const QWidget* view = option.widget;
        QStyle* style = view != nullptr ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view);
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.state = option.state | QStyle::State_Horizontal;
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = index.data(TransferListModel::percent_role).toInt();
        bar.text = index.data().toString().trimmed();
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, view);
    }
};

// A status longer than its column is mostly a failure's reason: the column widens to show it whole, up to half
// the list's width, and the middle of a longer one gives way, not its end.
void showWholeStatus(QTableView& table) {
    const int column = columnIndex(TransferColumn::status);
    // The table hides its override; the view's own is public and reaches it.
    const QAbstractItemView& view = table;
    const int wanted = std::min(view.sizeHintForColumn(column), table.viewport()->width() / 2);
    if (wanted > table.columnWidth(column)) {
        table.setColumnWidth(column, wanted);
    }
}
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
    table->setTextElideMode(Qt::ElideMiddle);
    table->setItemDelegateForColumn(columnIndex(TransferColumn::percent), new ProgressBarDelegate(table));
    new ColumnFitter(table);
    QObject::connect(model, &QAbstractItemModel::dataChanged, table, [table] { showWholeStatus(*table); });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, table, [table] { showWholeStatus(*table); });
    return table;
}

std::vector<int> selectedRows(const QTableView& table) {
    std::vector<int> rows;
    for (const QModelIndex& selected : table.selectionModel()->selectedRows()) {
        rows.push_back(selected.row());
    }
    return rows;
}

std::vector<std::uint64_t> cancellableSelection(const QTableView& table, const TransferListModel& rows) {
    std::vector<std::uint64_t> ids;
    for (const int row : selectedRows(table)) {
        const app::transfer_view& transfer = rows.transferAt(row);
        if (!transfer.finished) {
            ids.push_back(transfer.id);
        }
    }
    return ids;
}

QAction* TransferMenu::add(const char* text, const char* objectName) const {
    QAction* item = menu->addAction(QString::fromLatin1(text));
    item->setObjectName(objectName);
    return item;
}

TransferMenu attachTransferMenu(QTableView& table, QWidget& window) {
    TransferMenu shared;
    shared.menu = new QMenu(&window);
    shared.menu->setObjectName("transferListMenu");
    shared.clearCompleted = shared.add("Clear Completed", "clearCompletedAction");
    shared.pauseSelected = shared.add("Pause Selected", "pauseSelectedAction");
    shared.resumeSelected = shared.add("Resume Selected", "resumeSelectedAction");
    shared.cancelSelected = shared.add("Cancel Selected", "cancelSelectedAction");
    for (QAction* selection : {shared.pauseSelected, shared.resumeSelected, shared.cancelSelected}) {
        selection->setEnabled(false);
    }
    // The window's own commands stand apart from these.
    shared.menu->addSeparator();
    // The position comes in the viewport's coordinates, as for every scroll area.
    QObject::connect(
        &table, &QWidget::customContextMenuRequested, shared.menu,
        [&table, menu = shared.menu](const QPoint& at) { menu->popup(table.viewport()->mapToGlobal(at)); });
    return shared;
}

int transferTableWidth(const QTableView& table) {
    int width = 2 * table.frameWidth() + table.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (const transfer_column& column : transfer_columns) {
        width += column.width;
    }
    return width;
}

} // namespace tiv::ui
