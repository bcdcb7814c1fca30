#pragma once

#include <QAbstractTableModel>
#include <unordered_set>
#include <vector>

#include "app/transfer_view.h"

namespace tiv::ui {

// The rows of a transfer list, one per transfer, bound to it by its id (never by position): a refresh updates
// the rows of the transfers it still sees, appends new ones in list order and drops those that are gone.
class TransferListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TransferListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void refresh(const std::vector<app::transfer_view>& transfers);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const app::transfer_view& transferAt(int row) const { return m_aRows.at(row); }

signals:
    // An incoming send has ended, every file of it stored or not: once per connection, with its rows, from the
    // refresh that first sees them all final, which may be the one that first sees them at all.
    void incomingSendEnded(const std::vector<tiv::app::transfer_view>& rows);

private:
    void announceEndedSends(const std::vector<app::transfer_view>& transfers);

    std::vector<app::transfer_view> m_aRows;
    // The connections whose end was announced, while any of their rows is listed.
    std::unordered_set<std::uint64_t> m_aAnnounced;
};

} // namespace tiv::ui
