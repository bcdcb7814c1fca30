#include "ui/transfers/history_model.h"

#include <QDateTime>
#include <array>

#include "ui/transfers/transfer_texts.h"

namespace tiv::ui {

namespace {
constexpr std::array<const char*, HistoryModel::column_count> headings{"File Name", "Friend",  "Size",
                                                                       "When",      "Outcome", "Stored at"};

QString text(const std::string& words) {
    return QString::fromStdString(words);
}
} // namespace

QString historyPeerText(const app::transfer_view& row) {
    return (row.direction == app::transfer_direction::sending ? "to " : "from ") + text(row.friend_name);
}

void HistoryModel::reset(std::vector<app::transfer_view> rows) {
    beginResetModel();
    m_aRows = std::move(rows);
    endResetModel();
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_aRows.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : column_count;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const app::transfer_view& row = rowAt(index.row());
    // The cells a column may cut short say all of it under the pointer; the size says its exact bytes.
    if (role == Qt::ToolTipRole) {
        if (index.column() == size) {
            return text(exactSizeText(row.size));
        }
        return index.column() == outcome || index.column() == stored_at ? data(index, Qt::DisplayRole) : QVariant();
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case name:
        return text(transferFileName(row));
    case friend_name:
        return historyPeerText(row);
    case size:
        return text(sizeText(row.size));
    case when:
        return QDateTime::fromSecsSinceEpoch(row.end_time).toString("yyyy-MM-dd HH:mm");
    case outcome:
        return text(transferStatusText(row));
    case stored_at:
        return text(row.stored_path);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= column_count) {
        return {};
    }
    return QString::fromLatin1(headings[static_cast<std::size_t>(section)]);
}

} // namespace tiv::ui
