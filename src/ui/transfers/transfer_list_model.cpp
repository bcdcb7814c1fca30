#include "ui/transfers/transfer_list_model.h"

#include <algorithm>
#include <unordered_map>

#include "ui/transfers/transfer_columns.h"
#include "ui/transfers/transfer_texts.h"

namespace tiv::ui {

namespace {
// Measures closer together than this say more about the refresh than about the transfer.
constexpr std::chrono::milliseconds shortest_measure{200};
// How much a new measure moves the speed shown.
constexpr double new_measure_weight = 0.4;
} // namespace

void TransferListModel::refresh(const std::vector<app::transfer_view>& transfers,
                                std::chrono::steady_clock::time_point now) {
    std::unordered_set<std::uint64_t> seen;
    for (const app::transfer_view& transfer : transfers) {
        seen.insert(transfer.id);
        measurePace(transfer, now);
    }
    std::erase_if(m_aPace, [&seen](const auto& entry) { return !seen.contains(entry.first); });
    std::erase_if(m_aPaused, [&seen](const auto& entry) { return !seen.contains(entry.first); });
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

void TransferListModel::measurePace(const app::transfer_view& transfer, std::chrono::steady_clock::time_point now) {
    if (transfer.finished) {
        m_aPace.erase(transfer.id);
        return;
    }
    const auto [entry, first] = m_aPace.try_emplace(transfer.id, Pace{transfer.bytes_done, now, 0.0});
    Pace& pace = entry->second;
    const std::chrono::duration<double> elapsed = now - pace.at;
    if (first || elapsed < shortest_measure || transfer.bytes_done < pace.bytes) {
        return;
    }
    const double measured = static_cast<double>(transfer.bytes_done - pace.bytes) / elapsed.count();
    pace.speed = pace.speed > 0.0 ? pace.speed + new_measure_weight * (measured - pace.speed) : measured;
    pace.bytes = transfer.bytes_done;
    pace.at = now;
}

double TransferListModel::speedOf(const app::transfer_view& transfer) const {
    const auto found = m_aPace.find(transfer.id);
    return found != m_aPace.end() ? found->second.speed : 0.0;
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
    const auto column = static_cast<TransferColumn>(index.column());
    if (role == percent_role && column == TransferColumn::percent) {
        return transferPercent(transfer);
    }
    if (role == Qt::ToolTipRole) {
        return toolTip(transfer, column);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (column) {
    case TransferColumn::name:
        return QString::fromStdString(transferFileName(transfer));
    case TransferColumn::status:
        return QString::fromStdString(statusText(transfer));
    case TransferColumn::size:
        return QString::fromStdString(sizeText(transfer.size));
    case TransferColumn::done:
        return QString::fromStdString(sizeText(transferBytesShown(transfer)));
    case TransferColumn::percent:
        return QString::fromStdString(transferPercentText(transfer));
    case TransferColumn::speed:
        return QString::fromStdString(speedText(speedOf(transfer)));
    case TransferColumn::time_left:
        return QString::fromStdString(timeLeftText(transfer, speedOf(transfer)));
    case TransferColumn::identity:
        return QString::fromStdString(transfer.friend_name);
    case TransferColumn::address:
        return QString::fromStdString(transfer.peer_address);
    }
    return {};
}

// A failure's reason is longer than any column: the whole status is at hand over every cell of its row, over the
// name the name it was sent under, and over a size the exact count of bytes.
QVariant TransferListModel::toolTip(const app::transfer_view& transfer, TransferColumn column) const {
    const QString status = QString::fromStdString(statusText(transfer));
    switch (column) {
    case TransferColumn::name:
        return transfer.file_name.empty() ? status
                                          : "Sent as " + QString::fromStdString(transfer.file_name) + "\n" + status;
    case TransferColumn::size:
        return QString::fromStdString(exactSizeText(transfer.size));
    case TransferColumn::done:
        return QString::fromStdString(exactSizeText(transferBytesShown(transfer)));
    default:
        return status;
    }
}

bool TransferListModel::pausedAt(int row) const {
    const auto paused = m_aPaused.find(transferAt(row).id);
    return paused != m_aPaused.end() && !paused->second && transferAt(row).finished && transferAt(row).failed;
}

std::string TransferListModel::statusText(const app::transfer_view& transfer) const {
    const auto paused = m_aPaused.find(transfer.id);
    if (paused == m_aPaused.end() || !transfer.finished || !transfer.failed) {
        return transferStatusText(transfer);
    }
    return paused->second ? "PAUSED (went on in a new row)" : "PAUSED";
}

QVariant TransferListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    return QString::fromLatin1(transfer_columns[section].heading);
}

} // namespace tiv::ui
