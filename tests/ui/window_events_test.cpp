#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "support/temp_home.h"
#include "ui/message_style.h"
#include "ui/notice_presenter.h"
#include "ui/window_events.h"

namespace tiv::ui {

namespace {
// Runs `work` on a thread of its own and reports whether it returned within the time-out, without ever
// running the window thread's event loop meanwhile: what it needed from the window would never come.
bool returnsWithoutTheWindow(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    const bool returned = test::wait_for([&] { return done.load(); }, std::chrono::seconds(5));
    if (returned) {
        worker.join();
    } else {
        // Joining would hang the suite; the failure below says what happened.
        worker.detach();
    }
    return returned;
}
} // namespace

// Worker threads reach the windows only by queued calls: their events and their notices.
class WindowEventsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { m_oHome.emplace(); }
    void cleanup() { m_oHome.reset(); }

    void workerNoticeIsShownOnceWithoutHoldingTheWorker() {
        WindowEvents events;
        QWidget window;
        NoticePresenter notices(&window);
        connect(&events, &WindowEvents::noticeRaised, &notices, &NoticePresenter::present);

        const auto tell = [&events] { events.notice({"No common key caps", "Session key", MB_OK | MB_ICONERROR}); };
        QVERIFY(returnsWithoutTheWindow(tell));
        QVERIFY(notices.shownBox() == nullptr);

        QTRY_VERIFY(notices.shownBox() != nullptr);
        QCOMPARE(notices.shownBox()->text(), QString("No common key caps"));
        QVERIFY(!notices.shownBox()->isModal());
        // The same notice again, while it is on screen, adds nothing.
        QVERIFY(returnsWithoutTheWindow(tell));
        QTest::qWait(50);
        QCOMPARE(notices.waitingCount(), std::size_t{0});
    }

    void eventsFromAWorkerArriveLaterOnTheWindowThread() {
        WindowEvents events;
        std::vector<QThread*> deliveredOn;
        connect(&events, &WindowEvents::logged, this,
                [&deliveredOn](const app::log_event&) { deliveredOn.push_back(QThread::currentThread()); });
        connect(&events, &WindowEvents::noticeRaised, this,
                [&deliveredOn](const app::notice&) { deliveredOn.push_back(QThread::currentThread()); });
        QVERIFY(returnsWithoutTheWindow([&events] {
            events.log({std::chrono::system_clock::now(), 3, "R: stored"});
            events.notice({"No common key caps", "Session key", MB_OK | MB_ICONERROR});
        }));
        QVERIFY(deliveredOn.empty());
        QTRY_COMPARE(deliveredOn.size(), std::size_t{2});
        for (QThread* thread : deliveredOn) {
            QCOMPARE(thread, QThread::currentThread());
        }
    }

private:
    std::optional<test::temp_home> m_oHome;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::WindowEventsTest)
#include "window_events_test.moc"
