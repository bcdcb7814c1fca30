#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

#include "app/history.h"
#include "app/internal/listen_config.h"
#include "app/internal/program_parts.h"
#include "app/questions.h"
#include "core/unique_fd.h"
#include "integration/peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/main_window.h"
#include "ui/message_style.h"
#include "ui/support/recording_launcher.h"
#include "ui/support/scripted_answers.h"
#include "ui/support/silent_connection.h"
#include "ui/transfers/transfer_columns.h"
#include "ui/transfers/transfer_table.h"

namespace tiv::ui {

namespace {
int portOf(const std::string& bound) {
    return std::stoi(bound.substr(bound.rfind(':') + 1));
}

// Every file below `folder`, hidden ones (parts kept for a later send) included.
QStringList filesIn(const std::string& folder) {
    QStringList files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files << QString::fromStdString(entry.path().string());
        }
    }
    files.sort();
    return files;
}

void setListeningPort(test::test_identity& person, std::uint32_t port) {
    QVERIFY(write_dword_setting(person.settings().machine_key(), names::interface_ip_port, port));
    person.settings().load_settings();
}

} // namespace

// The main window over a real receiver: Bob's program receives from Alice and Mallory, who run as quorvel-cli.
class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_pAlice = std::make_unique<test::test_identity>("Alice");
        m_pBob = std::make_unique<test::test_identity>("Bob");
        m_pMallory = std::make_unique<test::test_identity>("Mallory");
        for (test::test_identity* person : {m_pAlice.get(), m_pBob.get(), m_pMallory.get()}) {
            test::prepare_peer(*person);
        }
        m_pAlice->befriend(*m_pBob);
        m_pMallory->befriend(*m_pBob);
        m_pBob->befriend(*m_pAlice);
    }

    void cleanupTestCase() {
        m_pMallory.reset();
        m_pBob.reset();
        m_pAlice.reset();
    }

    void init() {
        m_oHome.emplace();
        setListeningPort(*m_pBob, 0);
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
        m_pProgram = std::make_unique<app::program>(m_pBob->environment(), *m_pAnswers);
        m_pProgram->start();
        m_pWindow = std::make_unique<MainWindow>(*m_pProgram, *m_pAnswers);
        m_pWindow->show();
        m_pWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
    }

    void cleanup() {
        m_pWindow.reset();
        m_pProgram.reset();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_oHome.reset();
    }

    void receivedParcelEndsCompletedARefusedOneShowsItsErrorAndClearCompletedRemovesBoth() {
        QVERIFY(m_pProgram->listen_status().ok());
        const std::string to = "--to=127.0.0.1:" + std::to_string(portOf(m_pProgram->incoming().bound_address()));
        const std::string parcel = m_oHome->path() + "/parcel.bin";
        test::write_random_file(parcel, 70000);
        const auto* hint = m_pWindow->findChild<QLabel*>("emptyListHint");
        QVERIFY(hint->isVisibleTo(m_pWindow.get()));

        test::peer_process alice(m_pAlice->home(), {"send", "Bob", parcel, to}, m_oHome->path() + "/alice.out");
        QCOMPARE(alice.wait(60000), 0);
        TransferListModel& rows = m_pWindow->transfers();
        QTRY_COMPARE_WITH_TIMEOUT(rows.rowCount(), 1, 5000);
        QVERIFY(!hint->isVisibleTo(m_pWindow.get()));
        QTRY_COMPARE_WITH_TIMEOUT(rows.index(0, 1).data().toString(), QString("COMPLETED"), 5000);
        QCOMPARE(rows.index(0, 0).data().toString(), QString("parcel.bin"));
        QCOMPARE(rows.index(0, columnIndex(TransferColumn::size)).data().toString(), QString("70.0 kB"));
        QCOMPARE(rows.index(0, columnIndex(TransferColumn::percent)).data().toString(), QString("100%"));
        QCOMPARE(rows.index(0, columnIndex(TransferColumn::identity)).data().toString(), QString("Alice"));
        QVERIFY(rows.index(0, columnIndex(TransferColumn::address)).data().toString().startsWith("127.0.0.1:"));

        // Bob never stored Mallory's key: the receiver refuses her, and counts her under the list instead of
        // listing her.
        test::peer_process mallory(m_pMallory->home(), {"send", "Bob", parcel, to}, m_oHome->path() + "/mallory.out");
        QVERIFY(mallory.wait(60000) != 0);
        auto* strangers = m_pWindow->findChild<QLabel*>("strangerStatusLabel");
        QTRY_COMPARE_WITH_TIMEOUT(strangers->text(),
                                  QString("1 connection from an unknown sender refused; see the activity log"), 5000);
        QVERIFY(strangers->isVisibleTo(m_pWindow.get()));
        QCOMPARE(rows.rowCount(), 1);

        QTest::mouseClick(m_pWindow->findChild<QPushButton*>("clearCompletedButton"), Qt::LeftButton);
        QCOMPARE(rows.rowCount(), 0);
        QVERIFY(!strangers->isVisibleTo(m_pWindow.get()));
    }

    void portInUseShowsNotListeningWithTheReason() {
        const int taken = portOf(m_pProgram->incoming().bound_address());
        setListeningPort(*m_pBob, static_cast<std::uint32_t>(taken));
        app::program second(m_pBob->environment(), *m_pAnswers);
        second.start();
        MainWindow window(second, *m_pAnswers);
        const QString shown = window.findChild<QLabel*>("listenStatusLabel")->text();
        QVERIFY2(shown.startsWith("Not listening: ") && shown.contains(QString::number(taken)), qPrintable(shown));
        QVERIFY(m_pWindow->findChild<QLabel*>("listenStatusLabel")->text().startsWith("Listening on 127.0.0.1:"));

        // The caption names where friends reach this program, or whose program it is while it cannot be reached.
        QCOMPARE(window.windowTitle(),
                 QString::fromStdString("Quorvel Receiving - " + m_pBob->settings().text(text_setting::user_name)));
        setListeningPort(*m_pBob, 0);
        QVERIFY(app::spine_of(second).restart_listener(app::listen_config_of(m_pBob->settings())));
        window.refresh();
        QCOMPARE(window.windowTitle(),
                 "Quorvel Receiving - " + QString::fromStdString(second.incoming().bound_address()));
    }

    void neverSmallerThanItsMinimumNorAColumnNarrowerThanItsOpeningWidth() {
        // The buttons under the list may ask for more than the smallest size, never for less.
        m_pWindow->resize(100, 100);
        QCOMPARE(m_pWindow->size(), m_pWindow->minimumSize());
        QVERIFY(m_pWindow->size().expandedTo(MainWindow::smallest_size) == m_pWindow->size());
        auto* list = m_pWindow->findChild<QTableView*>("incomingList");
        for (const QSize size : {QSize(350, 250), QSize(1400, 600), QSize(400, 300)}) {
            m_pWindow->resize(size);
            QCoreApplication::processEvents();
            for (int column = 0; column < static_cast<int>(transfer_columns.size()); ++column) {
                QVERIFY(list->columnWidth(column) >= transfer_columns[column].width);
            }
        }
    }

    void exitAsksFirstAndTheCloseBoxWithNothingRunningAsksNothing() {
        m_pAnswers->answer_next(IDCANCEL);
        m_pWindow->exitCommand();
        QVERIFY(!m_pWindow->ended() && m_pWindow->isVisible());
        QTest::keyClick(m_pWindow.get(), Qt::Key_Return);
        QVERIFY(!m_pWindow->ended());

        QVERIFY(m_pWindow->close());
        QVERIFY(m_pWindow->ended());
        QVERIFY(!m_pProgram->incoming().listening());
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{1});
    }

    void runningTransfersAskASecondQuestionAndCancelOnEitherStays() {
        const unique_fd connection = test::silent_connection(m_pProgram->incoming().bound_address());
        QVERIFY(connection.get() >= 0);
        QVERIFY(
            test::wait_for([this] { return m_pProgram->incoming().running_count() == 1; }, std::chrono::seconds(5)));
        m_pAnswers->answer_next(IDOK);
        m_pAnswers->answer_next(IDCANCEL);
        m_pWindow->exitCommand();
        QVERIFY(!m_pWindow->ended() && m_pProgram->incoming().listening());
        QCOMPARE(QString::fromStdString(m_pAnswers->questions_asked().back().caption),
                 QString("WARNING: ACTIVE CONNECTIONS"));

        m_pAnswers->answer_next(IDOK);
        QTest::keyClick(m_pWindow.get(), Qt::Key_Escape);
        QVERIFY(m_pWindow->ended());
        QCOMPARE(m_pProgram->incoming().running_count(), std::size_t{0});
    }

    void sendsOfOtherWindowsCountAsActiveConnectionsToo() {
        m_pWindow->setOtherTransfersCounter([] { return std::size_t{2}; });
        m_pAnswers->answer_next(IDCANCEL);
        QVERIFY(!m_pWindow->close());
        QCOMPARE(QString::fromStdString(m_pAnswers->questions_asked().back().caption),
                 QString("WARNING: ACTIVE CONNECTIONS"));
        m_pWindow->setOtherTransfersCounter([] { return std::size_t{0}; });
        QVERIFY(m_pWindow->close());
    }

    // Every file of one send gets its row, under the name it was stored as.
    void aSendOfSeveralFilesShowsARowForEach() {
        const std::string to = "--to=127.0.0.1:" + std::to_string(portOf(m_pProgram->incoming().bound_address()));
        std::vector<std::string> command{"send", "Bob"};
        for (const char* name : {"one.txt", "two.txt", "parcel.bin"}) {
            command.push_back(m_oHome->path() + "/" + name);
            test::write_random_file(command.back(), 1000);
        }
        command.push_back(to);
        test::peer_process alice(m_pAlice->home(), command, m_oHome->path() + "/alice.out");
        QCOMPARE(alice.wait(60000), 0);
        TransferListModel& rows = m_pWindow->transfers();
        QTRY_COMPARE_WITH_TIMEOUT(rows.rowCount(), 3, 5000);
        QStringList names;
        for (int row = 0; row < 3; ++row) {
            QTRY_COMPARE_WITH_TIMEOUT(rows.index(row, 1).data().toString(), QString("COMPLETED"), 5000);
            names << rows.index(row, 0).data().toString();
        }
        names.sort();
        // A parcel.bin is in the box already: this one was stored beside it.
        QCOMPARE(names, QStringList({"one.txt", "parcel(1).bin", "two.txt"}));
        QTest::mouseClick(m_pWindow->findChild<QPushButton*>("clearCompletedButton"), Qt::LeftButton);
    }

    // A cancel by the receiving user throws away what arrived: no file, no part kept for a later send.
    void cancelSelectedStopsARunningTransferAndKeepsNothingOfIt() {
        const std::string to = "--to=127.0.0.1:" + std::to_string(portOf(m_pProgram->incoming().bound_address()));
        const std::string large = m_oHome->path() + "/large.bin";
        std::filesystem::resize_file((std::ofstream(large), large), 20ULL << 30);
        const QStringList before = filesIn(m_pBob->home() + "/PBoxes");
        test::peer_process alice(m_pAlice->home(), {"send", "Bob", large, to}, m_oHome->path() + "/alice.out");
        TransferListModel& rows = m_pWindow->transfers();
        QTRY_VERIFY_WITH_TIMEOUT(rows.rowCount() == 1 && rows.transferAt(0).bytes_done > 0, 20000);
        auto* list = m_pWindow->findChild<QTableView*>("incomingList");
        auto* cancel = m_pWindow->findChild<QPushButton*>("cancelButton");
        QVERIFY(!cancel->isEnabled());
        list->selectRow(0);
        QVERIFY(cancel->isEnabled());
        emit list->customContextMenuRequested(QPoint(5, 5));
        auto* menu = m_pWindow->findChild<QMenu*>("transferListMenu");
        QVERIFY(menu->isVisible());
        // Only its sender can send a paused parcel again.
        QVERIFY(menu->findChild<QAction*>("pauseSelectedAction")->isEnabled() &&
                !menu->findChild<QAction*>("resumeSelectedAction")->isEnabled());
        menu->findChild<QAction*>("cancelSelectedAction")->trigger();
        menu->hide();
        QTRY_VERIFY_WITH_TIMEOUT(rows.index(0, 1).data().toString().startsWith("STOPPED"), 10000);
        QCOMPARE(rows.index(0, columnIndex(TransferColumn::done)).data().toString(), QString("0 bytes"));
        QVERIFY(alice.wait(60000) != 0);
        QCOMPARE(m_pProgram->incoming().running_count(), std::size_t{0});
        QVERIFY(!cancel->isEnabled());
        QCOMPARE(filesIn(m_pBob->home() + "/PBoxes"), before);
    }

    void aRefreshThatAddsRowsBringsTheNewestIntoView() {
        TransferListModel rows;
        const std::unique_ptr<QTableView> table(makeTransferTable(&rows, "list"));
        table->resize(600, 150);
        table->show();
        std::vector<app::transfer_view> transfers(40);
        std::ranges::for_each(transfers, [id = 0u](app::transfer_view& transfer) mutable { transfer.id = ++id; });
        refreshKeepingNewestInView(*table, [&] { rows.refresh(transfers); });
        QVERIFY(table->viewport()->rect().contains(table->visualRect(rows.index(39, 0))));
    }

    void historyKeepsBothSidesAcrossARestartOpensWhatArrivedAndClears() {
        QVERIFY(app::clear_history(*m_pProgram).ok());
        const std::string to = "--to=127.0.0.1:" + std::to_string(portOf(m_pProgram->incoming().bound_address()));
        const std::string parcel = m_oHome->path() + "/photo.jpg";
        test::write_random_file(parcel, 1500);
        test::peer_process alice(m_pAlice->home(), {"send", "Bob", parcel, to}, m_oHome->path() + "/alice.out");
        QCOMPARE(alice.wait(60000), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_pProgram->incoming().running_count(), std::size_t{0}, 5000);
        const std::vector<app::transfer_view> sent = app::read_history(m_pAlice->program());
        QVERIFY(!sent.empty());
        QCOMPARE(historyPeerText(sent.front()), QString("to Bob"));

        // A restart: a new program and window read what the last one kept.
        m_pWindow.reset();
        m_pProgram.reset();
        m_pProgram = std::make_unique<app::program>(m_pBob->environment(), *m_pAnswers);
        m_pWindow = std::make_unique<MainWindow>(*m_pProgram, *m_pAnswers);
        test::RecordingLauncher launcher;
        m_pWindow->setLauncher(launcher);
        m_pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pWindow.get()));
        m_pWindow->findChild<QTabWidget*>("mainTabs")->setCurrentIndex(1);
        HistoryModel& rows = m_pWindow->history().rows();
        QCOMPARE(rows.rowCount(), 1);
        QCOMPARE(rows.index(0, HistoryModel::name).data().toString(), QString("photo.jpg"));
        QCOMPARE(rows.index(0, HistoryModel::friend_name).data().toString(), QString("from Alice"));
        QCOMPARE(rows.index(0, HistoryModel::size).data().toString(), QString("1.5 kB"));
        QCOMPARE(rows.index(0, HistoryModel::outcome).data().toString(), QString("COMPLETED"));
        const QString stored = rows.index(0, HistoryModel::stored_at).data().toString();
        QVERIFY(stored.endsWith("/Alice/photo.jpg"));

        auto* list = m_pWindow->findChild<QTableView*>("historyList");
        list->selectRow(0);
        // As a user does it: the first click presses the row, the second makes it a double click.
        const QPoint onRow = list->visualRect(rows.index(0, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onRow);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, onRow);
        QCOMPARE(launcher.opened, QStringList{stored});
        m_pWindow->findChild<QAction*>("historyShowInFolderAction")->trigger();
        QCOMPARE(launcher.shown, QStringList{stored});
        QVERIFY(QFile::remove(stored));
        m_pAnswers->answer_next(IDOK);
        m_pWindow->history().openSelected();
        QVERIFY(m_pAnswers->questions_asked().back().text.find("no longer there") != std::string::npos);
        QCOMPARE(launcher.opened.size(), 1);

        m_pWindow->findChild<QPushButton*>("clearHistoryButton")->click();
        QCOMPARE(rows.rowCount(), 0);
        QVERIFY(app::read_history(*m_pProgram).empty());
    }

private:
    std::unique_ptr<test::test_identity> m_pAlice;
    std::unique_ptr<test::test_identity> m_pBob;
    std::unique_ptr<test::test_identity> m_pMallory;
    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<app::program> m_pProgram;
    std::unique_ptr<MainWindow> m_pWindow;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::MainWindowTest)
#include "main_window_test.moc"
