#include <QTest>
#include <memory>
#include <vector>

#include "ui/transfer_list_model.h"
#include "ui/transfer_table.h"

namespace tiv::ui {

// A transfer list's view as both windows refresh it.
class TransferTableTest : public QObject {
    Q_OBJECT
private slots:
    void aRefreshThatAddsRowsShowsTheNewestAndOneThatAddsNoneLeavesTheViewAlone() {
        TransferListModel rows;
        const std::unique_ptr<QTableView> table(makeTransferTable(&rows, "list"));
        table->resize(600, 150);
        table->show();
        QVERIFY(QTest::qWaitForWindowExposed(table.get()));
        std::vector<transfer_snapshot> transfers(40);
        for (std::size_t i = 0; i < transfers.size(); ++i) {
            transfers[i].id = i + 1;
            transfers[i].file_name = "parcel" + std::to_string(i) + ".bin";
        }
        const auto inView = [&](int row) {
            return table->viewport()->rect().intersects(table->visualRect(rows.index(row, 0)));
        };

        refreshKeepingNewestInView(*table, [&] { rows.refresh(transfers); });
        QVERIFY(inView(39) && !inView(0));

        table->scrollToTop();
        transfers[0].bytes_done = 100;
        refreshKeepingNewestInView(*table, [&] { rows.refresh(transfers); });
        QVERIFY(inView(0) && !inView(39));
    }
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::TransferTableTest)
#include "transfer_table_test.moc"
