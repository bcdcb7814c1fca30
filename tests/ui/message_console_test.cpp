#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/activity_feed.h"
#include "app/activity_switch.h"
#include "log/activity_log.h"
#include "ui/message_console.h"
#include "ui/window_events.h"

namespace tiv::ui {

namespace {
QStringList shownLines(const MessageConsole& console) {
    return console.text()->toPlainText().split('\n', Qt::SkipEmptyParts);
}

void setLogging(bool on) {
    if (app::activity_logging_on() != on) {
        (void)app::toggle_activity_logging();
    }
}
} // namespace

// The activity log's console as the desktop program wires it: the log's lines through the event sink.
class MessageConsoleTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_pEvents = std::make_unique<WindowEvents>();
        m_pFeed = std::make_unique<app::activity_feed>(*m_pEvents);
        m_pConsole = std::make_unique<MessageConsole>();
        connect(m_pEvents.get(), &WindowEvents::logged, m_pConsole.get(),
                [this](const app::log_event& line) { m_pConsole->appendLine(QString::fromStdString(line.text)); });
    }

    void cleanup() {
        setLogging(false);
        m_pFeed.reset();
        m_pConsole.reset();
        m_pEvents.reset();
    }

    void linesFromSeveralThreadsAppearInTheLogsOrder() {
        setLogging(true);
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 40; ++i) {
                    app::note_in_activity_log("thread " + std::to_string(t) + " line " + std::to_string(i));
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        QTRY_COMPARE(shownLines(*m_pConsole).size(), 120);
        const QStringList logged =
            QString::fromStdString(activity_console().text()).remove('\r').split('\n', Qt::SkipEmptyParts);
        QCOMPARE(shownLines(*m_pConsole), logged.mid(logged.size() - 120));
    }

    void withLoggingOffNothingAppears() {
        app::note_in_activity_log("while off");
        setLogging(true);
        app::note_in_activity_log("marker");
        QTRY_COMPARE(shownLines(*m_pConsole), QStringList({"marker"}));
    }

    void aCommentStaysOutOfTheFileAndSurvivesLinesArrivingWhileTyped() {
        QTemporaryDir dir;
        const QString path = dir.filePath("QVLLogfile.txt");
        QVERIFY(open_activity_log(path.toStdString()));
        setLogging(true);
        QTest::keyClicks(m_pConsole->comment(), "half a thought");
        app::note_in_activity_log("while typing");
        QTRY_COMPARE(shownLines(*m_pConsole), QStringList({"while typing"}));
        QCOMPARE(m_pConsole->comment()->text(), QString("half a thought"));
        QTest::mouseClick(m_pConsole->commentButton(), Qt::LeftButton);
        QVERIFY(m_pConsole->comment()->text().isEmpty());
        QTest::mouseClick(m_pConsole->commentButton(), Qt::LeftButton);
        app::note_in_activity_log("after");
        QTRY_COMPARE(shownLines(*m_pConsole), QStringList({"while typing", "==> half a thought", "after"}));
        close_activity_log();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY(written.contains("while typing") && written.contains("after"));
        QVERIFY(!written.contains("half a thought"));
    }

    void theToggleShowsAndHides() {
        m_pConsole->toggleShown();
        QVERIFY(m_pConsole->isVisible());
        m_pConsole->toggleShown();
        QVERIFY(!m_pConsole->isVisible());
    }

private:
    std::unique_ptr<WindowEvents> m_pEvents;
    std::unique_ptr<app::activity_feed> m_pFeed;
    std::unique_ptr<MessageConsole> m_pConsole;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::MessageConsoleTest)
#include "message_console_test.moc"
