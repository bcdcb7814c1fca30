#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/friend_list_window.h"

namespace tiv::ui {

namespace {
using app::friend_ping_state;

QStringList pingColumn(const FriendListWindow& window) {
    QStringList states;
    for (int i = 0; i < window.list()->topLevelItemCount(); ++i) {
        states << window.list()->topLevelItem(i)->text(2);
    }
    return states;
}

// A run whose end the test decides: every friend pending until released, then the states it was given.
struct HeldRun {
    std::vector<friend_ping_state> outcome;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> finished{false};

    app::friend_ping_run run() {
        return [this](const std::vector<std::string>& addresses, const app::ping_progress_sink& report,
                      const std::atomic<bool>&) {
            report({std::vector<friend_ping_state>(addresses.size(), friend_ping_state::pending), false, {}});
            released.wait();
            report({outcome, true, {}});
            finished = true;
        };
    }
};
} // namespace

// Bob's friend list over Alice and Carol, both on this machine.
class FriendListTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_oHome.emplace();
        m_pBob = std::make_unique<test::test_identity>("Bob");
        for (const char* name : {"Alice", "Carol"}) {
            m_aFriends.push_back(std::make_unique<test::test_identity>(name));
            m_pBob->befriend(*m_aFriends.back());
        }
    }

    void cleanup() {
        // A failed check must not leave a worker waiting forever, nor the pool waiting for it at exit.
        if (m_pHeld) {
            if (!m_bReleased) {
                m_pHeld->release.set_value();
            }
            QTRY_VERIFY(m_pHeld->finished.load());
            QCoreApplication::processEvents();
        }
        m_bReleased = false;
        m_pHeld.reset();
        m_aFriends.clear();
        m_pBob.reset();
        m_oHome.reset();
    }

    void aLoopbackFriendGoesFromPendingToOk() {
        FriendListWindow window(m_pBob->program());
        window.show();
        QCOMPARE(pingColumn(window), QStringList({"PENDING", "PENDING"}));
        QTRY_VERIFY_WITH_TIMEOUT(!window.pinging(), 15000);
        if (QLabel* problem = window.findChild<QLabel*>("pingProblemLabel"); problem->isVisible()) {
            QSKIP(qPrintable("no ICMP socket here: " + problem->text()));
        }
        QTRY_COMPARE(pingColumn(window), QStringList({"OK", "OK"}));
    }

    void injectedResultsShowTimeoutAndErrorAlsoAfterBeingHiddenMeanwhile() {
        FriendListWindow window(m_pBob->program(), held({friend_ping_state::timeout, friend_ping_state::error}));
        auto* refresh = window.findChild<QPushButton*>("refreshAllButton");
        window.show();
        QVERIFY(window.pinging());
        QVERIFY(!refresh->isEnabled());
        // One run at a time: a ping of a single friend is refused while the first runs.
        window.list()->setCurrentItem(window.list()->topLevelItem(0));
        window.pingSelected();
        // A friend added meanwhile waits for the run to end: its states belong to the rows it started with.
        m_aFriends.push_back(std::make_unique<test::test_identity>("Dave"));
        m_pBob->befriend(*m_aFriends.back());
        window.reloadFriends();
        QCOMPARE(window.list()->topLevelItemCount(), 2);
        window.hide();
        release();
        QTRY_VERIFY(!window.pinging());
        window.show();
        QTRY_COMPARE(pingColumn(window), QStringList({"TIMEOUT", "<error>", "unknown"}));
        QCOMPARE(window.list()->topLevelItem(2)->text(0), QString("Dave"));
        QVERIFY(refresh->isEnabled());
        QCOMPARE(window.list()->topLevelItem(1)->text(3), QString("unknown"));
        window.list()->setColumnWidth(0, 10);
        QCOMPARE(window.list()->columnWidth(0), 120);
    }

    void columnsKeepTheirProportionsAndTheMenuOpensOverTheEmptyList() {
        FriendListWindow window(m_pBob->program(), held({friend_ping_state::ok, friend_ping_state::ok}));
        window.show();
        QTreeWidget* list = window.list();
        const auto width = [list](int column) { return list->columnWidth(column); };
        for (const int windowWidth : {1300, FriendListWindow::smallest_size.width()}) {
            window.resize(windowWidth, 300);
            QTRY_COMPARE(width(0) + width(1) + width(2) + width(3), std::max(list->viewport()->width(), 400));
            QVERIFY(qAbs(2 * width(1) - 3 * width(2)) <= 3 && qAbs(width(3) - width(2)) <= 3);
        }
        auto* menu = window.findChild<QMenu*>();
        auto* message = menu->findChild<QAction*>("instantMessageAction");
        emit list->customContextMenuRequested(QPoint(10, list->viewport()->height() - 5));
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(!message->isEnabled() && !menu->findChild<QAction*>("pingAction")->isEnabled());
        emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(0)).center());
        QVERIFY(message->isEnabled());
    }

    // Meaningful under AddressSanitizer: the run reports to a window that is gone.
    void deletingTheWindowWhileARunGoesOnIsClean() {
        auto window =
            std::make_unique<FriendListWindow>(m_pBob->program(), held({friend_ping_state::ok, friend_ping_state::ok}));
        window->show();
        QVERIFY(window->pinging());
        window.reset();
        release();
        QTRY_VERIFY(m_pHeld->finished.load());
        QCoreApplication::processEvents();
    }

private:
    app::friend_ping_run held(std::vector<friend_ping_state> outcome) {
        m_pHeld = std::make_unique<HeldRun>();
        m_pHeld->outcome = std::move(outcome);
        return m_pHeld->run();
    }

    void release() {
        m_bReleased = true;
        m_pHeld->release.set_value();
    }

    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pBob;
    std::vector<std::unique_ptr<test::test_identity>> m_aFriends;
    std::unique_ptr<HeldRun> m_pHeld;
    bool m_bReleased = false;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::FriendListTest)
#include "friend_list_test.moc"
