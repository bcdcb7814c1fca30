#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/internal/receiver.h"
#include "crypto/negotiating_authentycryptor.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/friend_list_window.h"
#include "ui/instant_message_window.h"

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

QString loginStatus(const FriendListWindow& window, int row) {
    return window.list()->topLevelItem(row)->text(3);
}

// Alice's program listening on loopback in this process, each holding the other pinned, keeping what it shows.
struct ListeningFriend {
    ListeningFriend(test::test_identity& alice, test::test_identity& bob, const std::string& root)
        : receiver(std::make_shared<negotiating_authentycryptor>(alice.provider(), alice.settings(),
                                                                 negotiating_authentycryptor::version::conversing)) {
        alice.befriend(bob, 0xE40, true);
        receiver.set_message_listener([this](const friend_message& message) {
            const std::lock_guard guard(lock);
            shown.push_back(message.text);
            return true;
        });
        started = receiver.start({"127.0.0.1", 0, 4096, root}).ok();
        friend_profile profile = alice.as_friend(0xE40, true);
        const std::string bound = receiver.bound_address();
        profile.port = started ? std::stoi(bound.substr(bound.rfind(':') + 1)) : 0;
        (void)save_profile(bob.settings(), profile);
    }
    std::vector<std::string> messages() {
        const std::lock_guard guard(lock);
        return shown;
    }

    app::receiver receiver;
    bool started = false;
    std::mutex lock; // guards `shown`, which Alice's transfers fill
    std::vector<std::string> shown;
};

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
        }
        // Login checks and messages use the program that goes with its user.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
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
        QTRY_COMPARE(loginStatus(window, 1), QString("cannot check: no pinned key"));
        QCOMPARE(loginStatus(window, 2), QString("unknown"));
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
            QTRY_COMPARE(width(0) + width(1) + width(2) + width(3), std::max(list->viewport()->width(), 500));
            QVERIFY(qAbs(2 * width(1) - 3 * width(2)) <= 3 && qAbs(width(3) - width(2) * 9 / 4) <= 4);
        }
        auto* menu = window.findChild<QMenu*>();
        auto* message = menu->findChild<QAction*>("instantMessageAction");
        emit list->customContextMenuRequested(QPoint(10, list->viewport()->height() - 5));
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(!message->isEnabled() && !menu->findChild<QAction*>("pingAction")->isEnabled());
        emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(0)).center());
        QVERIFY(message->isEnabled());
    }

    void loginStatusSaysWhetherTheFriendsProgramAnswers() {
        ListeningFriend alice(*m_aFriends[0], *m_pBob, m_oHome->path() + "/alice-boxes");
        QVERIFY(alice.started);
        FriendListWindow window(m_pBob->program(), held({friend_ping_state::ok, friend_ping_state::ok}));
        window.show();
        release();
        QTRY_VERIFY_WITH_TIMEOUT(loginStatus(window, 0).startsWith("online (program answered in "), 15000);
        QVERIFY(loginStatus(window, 0).endsWith(" ms)"));
        QCOMPARE(loginStatus(window, 1), QString("cannot check: no pinned key"));

        alice.receiver.stop();
        window.list()->setCurrentItem(window.list()->topLevelItem(0));
        auto* check = window.findChild<QMenu*>()->findChild<QAction*>("checkLoginAction");
        emit window.list()->customContextMenuRequested(
            window.list()->visualItemRect(window.list()->topLevelItem(0)).center());
        QVERIFY(check->isEnabled());
        check->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(loginStatus(window, 0), QString("not running (connection refused)"), 15000);
    }

    void theMessageWindowsDeliveryLineSaysWhatBecameOfTheMessage() {
        ListeningFriend alice(*m_aFriends[0], *m_pBob, m_oHome->path() + "/alice-boxes");
        QVERIFY(alice.started);
        InstantMessageWindow window(m_pBob->program(), "Alice");
        QCOMPARE(window.windowTitle(), QString("Alice"));
        window.show();
        const auto send = [&window](const QString& text) {
            window.typed()->setText(text);
            QTest::mouseClick(window.findChild<QPushButton*>("sendButton"), Qt::LeftButton);
        };
        send("hello Alice");
        QTRY_COMPARE_WITH_TIMEOUT(window.delivery()->text(), QString("delivered"), 15000);
        QCOMPARE(window.conversation()->toPlainText(), QString("==> hello Alice\n    delivered"));
        QCOMPARE(alice.messages(), std::vector<std::string>{"hello Alice"});

        friend_profile bob = m_pBob->as_friend(0xE40, true);
        bob.messages = false;
        QVERIFY(save_profile(m_aFriends[0]->settings(), bob));
        send("still there?");
        QTRY_COMPARE_WITH_TIMEOUT(window.delivery()->text(), QString("refused: messages are off for you"), 15000);

        alice.receiver.stop();
        send("hello?");
        QTRY_COMPARE_WITH_TIMEOUT(window.delivery()->text(), QString("not running"), 15000);
        QCOMPARE(alice.messages().size(), 1U);
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
