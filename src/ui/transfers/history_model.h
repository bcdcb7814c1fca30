#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "app/transfer_view.h"

namespace tiv::ui {

// The parcels sent and received that the user's history keeps, newest first: what, with whom, how large, when, how
// it ended and, for a parcel stored here, where.
class HistoryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { name, friend_name, size, when, outcome, stored_at, column_count };

    explicit HistoryModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void reset(std::vector<app::transfer_view> rows);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const app::transfer_view& rowAt(int row) const { return m_aRows.at(static_cast<std::size_t>(row)); }

private:
    std::vector<app::transfer_view> m_aRows;
};

// "from Alice" for a parcel received, "to Bob" for one sent.
[[nodiscard]] QString historyPeerText(const app::transfer_view& row);

} // namespace tiv::ui
