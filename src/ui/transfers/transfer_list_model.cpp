#include "ui/transfers/transfer_list_model.h"

#include <algorithm>
#include <unordered_map>

#include "ui/transfers/transfer_columns.h"
#include "ui/transfers/transfer_texts.h"

namespace tiv::ui {

void TransferListModel::refresh(const std::vector<app::transfer_view>& transfers) {
    std::unordered_set<std::uint64_t> seen;
    for (const app::transfer_view& transfer : transfers) {
        seen.insert(transfer.id);
    }
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (!seen.contains(m_aRows[row].id)) {
            beginRemoveRows(QModelIndex(), row, row);
            m_aRows.erase(m_aRows.begin() + row);
            endRemoveRows();
        }
    }
    for (const app::transfer_view& transfer : transfers) {
        const auto found = std::find_if(m_aRows.begin(), m_aRows.end(),
                                        [&transfer](const app::transfer_view& row) { return row.id == transfer.id; });
        if (found != m_aRows.end()) {
            *found = transfer;
            const int row = static_cast<int>(found - m_aRows.begin());
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        } else {
            beginInsertRows(QModelIndex(), rowCount(), rowCount());
            m_aRows.push_back(transfer);
            endInsertRows();
        }
    }
    announceEndedSends(transfers);
}

// A row without a connection of its own (one file, one connection) is its own send. A short send starts and ends
// between two refreshes: rows first seen final have just ended too.
void TransferListModel::announceEndedSends(const std::vector<app::transfer_view>& transfers) {
    std::vector<std::uint64_t> order;
    std::unordered_map<std::uint64_t, std::vector<app::transfer_view>> sends;
    for (const app::transfer_view& transfer : transfers) {
        const std::uint64_t send = transfer.connection != 0 ? transfer.connection : transfer.id;
        auto [entry, added] = sends.try_emplace(send);
        if (added) {
            order.push_back(send);
        }
        entry->second.push_back(transfer);
    }
    std::erase_if(m_aAnnounced, [&sends](std::uint64_t send) { return !sends.contains(send); });
    for (const std::uint64_t send : order) {
        const std::vector<app::transfer_view>& rows = sends[send];
        const bool ended = std::all_of(rows.begin(), rows.end(), [](const app::transfer_view& row) {
            return row.finished && (row.connection == 0 || row.connection_ended);
        });
        if (ended && rows.front().direction == app::transfer_direction::receiving && m_aAnnounced.insert(send).second) {
            emit incomingSendEnded(rows);
        }
    }
}

int TransferListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_aRows.size());
}

int TransferListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(transfer_columns.size());
}

QVariant TransferListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const app::transfer_view& transfer = m_aRows[index.row()];
    // A failure's reason is longer than any column: the whole status is at hand over every cell of its row, and
    // over the name, the name it was sent under.
    if (role == Qt::ToolTipRole) {
        const QString status = QString::fromStdString(transferStatusText(transfer));
        if (index.column() == 0 && !transfer.file_name.empty()) {
            return "Sent as " + QString::fromStdString(transfer.file_name) + "\n" + status;
        }
        return status;
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case 0:
        return QString::fromStdString(transferFileName(transfer));
    case 1:
        return QString::fromStdString(transferStatusText(transfer));
    case 2:
        return QString::number(transfer.size);
    case 3:
        return QString::number(transferBytesShown(transfer));
    case 4:
        return QString::fromStdString(transferPercentText(transfer));
    case 5:
        return QString::fromStdString(transfer.friend_name);
    default:
        return QString::fromStdString(transfer.peer_address);
    }
}

QVariant TransferListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    return QString::fromLatin1(transfer_columns[section].heading);
}

} // namespace tiv::ui
