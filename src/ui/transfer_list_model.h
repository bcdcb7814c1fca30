#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "net/transfer_snapshot.h"

namespace tiv::ui {

// The rows of a transfer list, one per transfer, bound to it by its id (never by position): a refresh updates
// the rows of the transfers it still sees, appends new ones in list order and drops those that are gone.
class TransferListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TransferListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void refresh(const std::vector<transfer_snapshot>& transfers);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const transfer_snapshot& transferAt(int row) const { return m_aRows.at(row); }

signals:
    // An incoming transfer has ended, stored or not: once per transfer, from the refresh that first sees it
    // finished, which may be the one that first sees it at all.
    void incomingFinished(const tiv::transfer_snapshot& transfer);

private:
    std::vector<transfer_snapshot> m_aRows;
};

} // namespace tiv::ui
