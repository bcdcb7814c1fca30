#pragma once

#include <QAbstractTableModel>
#include <chrono>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/transfer_view.h"
#include "ui/transfers/transfer_columns.h"

namespace tiv::ui {

// The rows of a transfer list, one per transfer, bound to it by its id (never by position): a refresh updates
// the rows of the transfers it still sees, appends new ones in list order and drops those that are gone.
class TransferListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TransferListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Speeds are measured between refreshes, so a refresh says when it was taken.
    void refresh(const std::vector<app::transfer_view>& transfers,
                 std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const app::transfer_view& transferAt(int row) const { return m_aRows.at(row); }

    // A transfer the user paused ends like a stopped one; its row says it was paused, and, once the file went on
    // in a new transfer, where. One marked that still ends delivered reads as delivered.
    void markPaused(std::uint64_t id) { m_aPaused[id] = false; }
    void markResumed(std::uint64_t id) { m_aPaused[id] = true; }
    [[nodiscard]] bool pausedAt(int row) const;

    // The role under which the Percent column gives its number, 0 to 100, for its progress bar.
    static constexpr int percent_role = Qt::UserRole;

signals:
    // An incoming send has ended, every file of it stored or not: once per connection, with its rows, from the
    // refresh that first sees them all final, which may be the one that first sees them at all.
    void incomingSendEnded(const std::vector<tiv::app::transfer_view>& rows);

private:
    // How fast a running row moves: the bytes it had when last measured, and its speed smoothed over refreshes,
    // so that a pause of the disk or the network does not make the time left jump about.
    struct Pace {
        std::uint64_t bytes = 0;
        std::chrono::steady_clock::time_point at;
        double speed = 0.0; // bytes per second; 0 until measured
    };

    void announceEndedSends(const std::vector<app::transfer_view>& transfers);
    void measurePace(const app::transfer_view& transfer, std::chrono::steady_clock::time_point now);
    [[nodiscard]] double speedOf(const app::transfer_view& transfer) const;
    [[nodiscard]] std::string statusText(const app::transfer_view& transfer) const;
    [[nodiscard]] QVariant toolTip(const app::transfer_view& transfer, TransferColumn column) const;

    std::vector<app::transfer_view> m_aRows;
    // The connections whose end was announced, while any of their rows is listed.
    std::unordered_set<std::uint64_t> m_aAnnounced;
    std::unordered_map<std::uint64_t, Pace> m_aPace;
    // The paused transfers, each with whether it went on since.
    std::unordered_map<std::uint64_t, bool> m_aPaused;
};

} // namespace tiv::ui
