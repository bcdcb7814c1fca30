#include <QAction>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QThreadPool>
#include <arpa/inet.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/socket.h>

#include "app/internal/program_parts.h"
#include "app/questions.h"
#include "app/receive_service.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "integration/peer_process.h"
#include "net/loopback.h"
#include "settings/friend_profile.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/message_style.h"
#include "ui/send_window.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
void writeMachineNumber(test::test_identity& person, const char* name, std::uint32_t value) {
    QVERIFY(write_dword_setting(person.settings().machine_key(), name, value));
    person.settings().load_settings();
}

void storeFriend(test::test_identity& owner, const test::test_identity& other, const char* name, const char* address,
                 int port) {
    friend_profile profile = other.as_friend();
    copy_text_field(profile.name, name);
    copy_text_field(profile.address, address);
    profile.port = port;
    QVERIFY(save_profile(owner.settings(), profile));
}

void choose(SendWindow& window, const QString& entry) {
    auto* destinations = window.findChild<QComboBox*>("destinationCombo");
    const int index = destinations->findText(entry);
    QVERIFY(index >= 0);
    destinations->setCurrentIndex(index);
    emit destinations->activated(index);
    QTRY_VERIFY_WITH_TIMEOUT(!window.busy(), 10000);
}

// What a file manager hands over when files are dropped.
void drop(SendWindow& window, const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const std::string& path : paths) {
        urls.append(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPointF(20, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
}

// A loopback port that takes connections and never answers: a send to it runs until it is stopped.
unique_fd silentListener(int& port) {
    unique_fd listening(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof(address);
    (void)::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), length);
    (void)::listen(listening.get(), 4);
    (void)::getsockname(listening.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listening;
}

// Every regular file below `folder`.
std::vector<std::filesystem::path> filesBelow(const std::string& folder) {
    std::vector<std::filesystem::path> found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
        if (entry.is_regular_file()) {
            found.push_back(entry.path());
        }
    }
    return found;
}
} // namespace

// Alice's send windows, sending to Bob's receiver on 127.0.0.1 in the same process.
class SendWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_pAlice = std::make_unique<test::test_identity>("Alice");
        m_pBob = std::make_unique<test::test_identity>("Bob");
        for (test::test_identity* person : {m_pAlice.get(), m_pBob.get()}) {
            test::prepare_peer(*person);
            writeMachineNumber(*person, names::interface_ip_port, 0);
        }
        // Small blocks keep a large parcel in flight long enough to close the window over it.
        writeMachineNumber(*m_pAlice, names::io_block_size, smallest_io_block_size);
        m_pBob->befriend(*m_pAlice);
    }

    void cleanupTestCase() {
        m_pBob.reset();
        m_pAlice.reset();
    }

    void init() {
        m_oHome.emplace();
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
        m_pReceiver = std::make_unique<app::program>(m_pBob->environment(), *m_pAnswers);
        m_pReceiver->start();
        QVERIFY(m_pReceiver->listen_status().ok());
        const std::string bound = m_pReceiver->incoming().bound_address();
        m_nPort = std::stoi(bound.substr(bound.rfind(':') + 1));
        m_pSender = std::make_unique<app::program>(m_pAlice->environment(), *m_pAnswers);
        m_pSender->start();
        storeFriend(*m_pAlice, *m_pBob, "Bob", "127.0.0.1", m_nPort);
        storeFriend(*m_pAlice, *m_pBob, "Local", "localhost", m_nPort);
        storeFriend(*m_pAlice, *m_pBob, "Nowhere", "no-such-host.invalid", m_nPort);
    }

    void cleanup() {
        m_pSender.reset();
        m_pReceiver.reset();
        // A pin stays until its profile goes: the next test meets Alice unpinned again.
        (void)delete_profile(m_pBob->settings(), "Alice");
        m_pBob->befriend(*m_pAlice);
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        std::filesystem::remove_all(m_pBob->home() + "/PBoxes");
        m_oHome.reset();
    }

    // First: the position is the process's, and each window of this suite takes the next one.
    void successiveWindowsStepAcrossThenDown() {
        std::vector<std::unique_ptr<SendWindow>> windows;
        for (const QPoint expected :
             {QPoint(20, 20), QPoint(320, 20), QPoint(620, 20), QPoint(20, 120), QPoint(320, 120)}) {
            windows.push_back(std::make_unique<SendWindow>(*m_pSender, *m_pAnswers));
            windows.back()->show();
            QCOMPARE(windows.back()->pos(), expected);
        }
    }

    void friendsFollowTheTwoManualEntriesAndAreLookedUpBeforeAnySend() {
        SendWindow window(*m_pSender, *m_pAnswers);
        auto* destinations = window.findChild<QComboBox*>("destinationCombo");
        QStringList entries;
        for (int i = 0; i < destinations->count(); ++i) {
            entries << destinations->itemText(i);
        }
        QCOMPARE(entries, QStringList({"<manual>", "127.0.0.1 [local loopback]", "Bob", "Local", "Nowhere"}));

        auto* address = window.findChild<QLineEdit*>("addressEdit");
        auto* port = window.findChild<QSpinBox*>("portSpin");
        address->setText("10.1.2.3");
        choose(window, "Local");
        QCOMPARE(address->text(), QString("127.0.0.1"));
        QCOMPARE(port->value(), m_nPort);
        QVERIFY(!address->isEnabled() && !port->isEnabled());

        m_pAnswers->answer_next(IDOK);
        choose(window, "Nowhere");
        QVERIFY(m_pAnswers->questions_asked().back().text.find("Nowhere") != std::string::npos);
        const std::string parcel = m_oHome->path() + "/refused.bin";
        test::write_random_file(parcel, 100);
        m_pAnswers->answer_next(IDOK);
        window.sendFiles({parcel});
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{2});
        QVERIFY(m_pAnswers->questions_asked().back().text.find("Nowhere") != std::string::npos);
        QCOMPARE(window.transfers().rowCount(), 0);
        QCOMPARE(window.windowTitle(), QString("Quorvel Sending"));
        QVERIFY(destinations->isEnabled());
    }

    void theAddressTakesIPv6AndNamesAsWellAsDottedQuads() {
        SendWindow window(*m_pSender, *m_pAnswers);
        auto* address = window.findChild<QLineEdit*>("addressEdit");
        for (const QString typed : {"10.1.2.3", "fe80::1%eth0", "friend-1.example.org", "::1"}) {
            address->clear();
            QTest::keyClicks(address, typed);
            QCOMPARE(address->text(), typed);
        }
        QTest::keyClicks(address, " /[]");
        QCOMPARE(address->text(), QString("::1"));

        if (!test::has_ipv6_loopback()) {
            QSKIP("this machine has no IPv6 loopback (::1): IPv6 is switched off");
        }
        m_pAnswers->answer_next(IDOK);
        QTest::mouseClick(window.findChild<QPushButton*>("resolveButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.busy(), 10000);
        QVERIFY2(m_pAnswers->questions_asked().back().text.starts_with("Resolved:  ::1  ["),
                 m_pAnswers->questions_asked().back().text.c_str());
    }

    void aFriendAddedElsewhereIsOfferedWhileTheChoiceStays() {
        SendWindow window(*m_pSender, *m_pAnswers);
        choose(window, "Local");
        storeFriend(*m_pAlice, *m_pBob, "Carol", "127.0.0.1", m_nPort);
        window.reloadDestinations();
        QTRY_VERIFY_WITH_TIMEOUT(!window.busy(), 10000);
        QVERIFY(delete_profile(m_pAlice->settings(), "Carol"));
        auto* destinations = window.findChild<QComboBox*>("destinationCombo");
        QVERIFY(destinations->findText("Carol") >= 0);
        QCOMPARE(destinations->currentText(), QString("Local"));
        QVERIFY(!window.findChild<QLineEdit*>("addressEdit")->isEnabled());
    }

    void droppedFilesArriveWholeAndFixTheDestinationButAFolderIsRefused() {
        SendWindow window(*m_pSender, *m_pAnswers);
        window.show();
        choose(window, "Bob");
        std::vector<std::string> parcels;
        for (const std::size_t size : {1u, 70000u, 300000u}) {
            parcels.push_back(m_oHome->path() + "/parcel" + std::to_string(size) + ".bin");
            test::write_random_file(parcels.back(), size);
        }
        drop(window, parcels);
        TransferListModel& rows = window.transfers();
        QTRY_COMPARE_WITH_TIMEOUT(rows.rowCount(), 3, 5000);
        for (int row = 0; row < 3; ++row) {
            QTRY_COMPARE_WITH_TIMEOUT(rows.index(row, 1).data().toString(), QString("COMPLETED"), 20000);
        }
        const std::vector<std::filesystem::path> received = filesBelow(m_pBob->home() + "/PBoxes");
        QCOMPARE(received.size(), parcels.size());
        for (const std::filesystem::path& file : received) {
            QCOMPARE(test::file_sha256(file.string()),
                     test::file_sha256(m_oHome->path() + "/" + file.filename().string()));
        }
        QCOMPARE(window.windowTitle(), QString("Sending to Bob"));
        for (const char* control : {"destinationCombo", "addressEdit", "portSpin"}) {
            QVERIFY(!window.findChild<QWidget*>(control)->isEnabled());
        }

        m_pAnswers->answer_next(IDOK);
        drop(window, {m_oHome->path()});
        QTRY_COMPARE_WITH_TIMEOUT(m_pAnswers->questions_asked().size(), std::size_t{1}, 2000);
        QVERIFY(m_pAnswers->questions_asked().back().text.find(m_oHome->path()) != std::string::npos);
        QCOMPARE(rows.rowCount(), 3);
    }

    void aFolderChosenForAPinnedFriendArrivesAsItsTree() {
        // Only the stream between pinned friends carries folders.
        pinAliceAndBob();
        const std::string album = m_oHome->path() + "/album";
        std::filesystem::create_directories(album + "/2024");
        std::filesystem::create_directories(album + "/empty");
        test::write_random_file(album + "/a.jpg", 2000);
        test::write_random_file(album + "/2024/b.jpg", 90000);

        SendWindow window(*m_pSender, *m_pAnswers);
        window.show();
        choose(window, "Pinned Bob");
        m_pAnswers->choose_next(album);
        QTest::mouseClick(window.findChild<QPushButton*>("sendFolderButton"), Qt::LeftButton);
        TransferListModel& rows = window.transfers();
        QTRY_COMPARE_WITH_TIMEOUT(rows.rowCount(), 2, 5000);
        for (int row = 0; row < 2; ++row) {
            QTRY_COMPARE_WITH_TIMEOUT(rows.index(row, 1).data().toString(), QString("COMPLETED"), 20000);
        }
        const std::string arrived = m_pBob->home() + "/PBoxes/Alice/album";
        QCOMPARE(test::file_sha256(arrived + "/2024/b.jpg"), test::file_sha256(album + "/2024/b.jpg"));
        QCOMPARE(test::file_sha256(arrived + "/a.jpg"), test::file_sha256(album + "/a.jpg"));
        QVERIFY(std::filesystem::is_directory(arrived + "/empty"));

        QVERIFY(delete_profile(m_pBob->settings(), "Alice"));
        m_pBob->befriend(*m_pAlice);
        QVERIFY(delete_profile(m_pAlice->settings(), "Pinned Bob"));
    }

    void chosenFilesAreSentAndAManualDestinationStillAuthenticates() {
        SendWindow chosen(*m_pSender, *m_pAnswers);
        choose(chosen, "Bob");
        const std::string parcel = m_oHome->path() + "/chosen.bin";
        test::write_random_file(parcel, 5000);
        m_pAnswers->choose_next(parcel);
        QTest::mouseClick(chosen.findChild<QPushButton*>("sendFilesButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(chosen.transfers().index(0, 1).data().toString(), QString("COMPLETED"), 20000);
        QCOMPARE(chosen.transfers().index(0, 0).data().toString(), QString("chosen.bin"));
        std::filesystem::remove_all(m_pBob->home() + "/PBoxes");

        // No friend's key to authenticate with: the transfer fails there instead of going out in plain text.
        SendWindow manual(*m_pSender, *m_pAnswers);
        manual.findChild<QSpinBox*>("portSpin")->setValue(m_nPort);
        manual.sendFiles({parcel});
        QTRY_VERIFY_WITH_TIMEOUT(manual.transfers().rowCount() == 1 &&
                                     manual.transfers().index(0, 1).data().toString().startsWith("FAILED"),
                                 20000);
        QVERIFY(filesBelow(m_pBob->home() + "/PBoxes").empty());
    }

    void resolveRunsOffTheWindowThreadAndAWindowClosedMeanwhileHearsNothing() {
        auto window = std::make_unique<SendWindow>(*m_pSender, *m_pAnswers);
        auto* resolve = window->findChild<QPushButton*>("resolveButton");
        m_pAnswers->answer_next(IDOK);
        QTest::mouseClick(resolve, Qt::LeftButton);
        QVERIFY(!resolve->isEnabled() && window->busy());
        QTRY_VERIFY_WITH_TIMEOUT(resolve->isEnabled(), 10000);
        QCOMPARE(m_pAnswers->questions_asked().back().caption, std::string("Resolution Test"));
        QVERIFY(m_pAnswers->questions_asked().back().text.starts_with("Resolved:  127.0.0.1  ["));

        // An unexpected question would fail the test: the lookup's answer must die with the window.
        QTest::mouseClick(resolve, Qt::LeftButton);
        window.reset();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCoreApplication::processEvents();
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{1});
    }

    void cancelSelectedStopsOneSendAndLeavesTheOthers() {
        int port = 0;
        const unique_fd silent = silentListener(port);
        SendWindow window(*m_pSender, *m_pAnswers);
        window.show();
        window.findChild<QSpinBox*>("portSpin")->setValue(port);
        const std::string parcel = m_oHome->path() + "/held.bin";
        test::write_random_file(parcel, 1000);
        window.sendFiles({parcel, parcel});
        auto* cancel = window.findChild<QAction*>("cancelSelectedAction");
        QVERIFY(!cancel->isEnabled());
        // A slow machine may show the second row only at a later refresh; a row not shown cannot be selected.
        QTRY_COMPARE_WITH_TIMEOUT(window.transfers().rowCount(), 2, 10000);
        window.findChild<QTableView*>("outgoingList")->selectRow(1);
        QVERIFY(cancel->isEnabled());
        cancel->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(window.transfers().index(1, 1).data().toString().endsWith("was stopped)"), 10000);
        QVERIFY(window.runningCount() == 1 && !cancel->isEnabled());
    }

    void retrySendsAFailedFileAgain() {
        friend_profile refusing = m_pAlice->as_friend();
        refusing.receipt_enabled = 0;
        QVERIFY(save_profile(m_pBob->settings(), refusing));
        SendWindow window(*m_pSender, *m_pAnswers);
        window.show();
        choose(window, "Bob");
        const std::string parcel = m_oHome->path() + "/tax form.pdf";
        test::write_random_file(parcel, 5000);
        window.sendFiles({parcel});
        TransferListModel& rows = window.transfers();
        QTRY_VERIFY_WITH_TIMEOUT(rows.rowCount() == 1 && rows.transferAt(0).finished && rows.transferAt(0).failed,
                                 20000);
        auto* retry = window.findChild<QAction*>("retryAction");
        QVERIFY(!retry->isEnabled());
        window.findChild<QTableView*>("outgoingList")->selectRow(0);
        QVERIFY(retry->isEnabled());

        m_pBob->befriend(*m_pAlice);
        retry->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rows.rowCount(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rows.index(1, 1).data().toString(), QString("COMPLETED"), 20000);
        const std::vector<std::filesystem::path> received = filesBelow(m_pBob->home() + "/PBoxes");
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(test::file_sha256(received.front().string()), test::file_sha256(parcel));
    }

    // Only the stream between pinned friends goes on from a kept part.
    void aPausedFileResumesFromThePartTheReceiverKept() {
        pinAliceAndBob();
        SendWindow window(*m_pSender, *m_pAnswers);
        const std::string parcel = sendLargeFile(window, "Pinned Bob");
        TransferListModel& rows = window.transfers();
        // Paused once Bob has written some of it: only what he has is kept.
        const auto bobHasSome = [this] {
            const std::vector<app::transfer_view> arriving = m_pReceiver->incoming().snapshots();
            return !arriving.empty() && arriving.front().bytes_done > 0;
        };
        QDeadlineTimer deadline(20000);
        do {
            window.refresh();
        } while ((rows.rowCount() == 0 || !bobHasSome()) && !deadline.hasExpired());
        auto* pause = window.findChild<QAction*>("pauseSelectedAction");
        auto* resume = window.findChild<QAction*>("resumeSelectedAction");
        window.findChild<QTableView*>("outgoingList")->selectRow(0);
        QVERIFY(pause->isEnabled() && !resume->isEnabled());
        pause->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rows.index(0, 1).data().toString(), QString("PAUSED"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(m_pReceiver->incoming().running_count(), std::size_t{0}, 15000);
        QVERIFY(resume->isEnabled() && !window.findChild<QAction*>("retryAction")->isEnabled());

        resume->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rows.rowCount(), 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(rows.transferAt(1).finished, 30000);
        QVERIFY2(rows.index(1, 1).data().toString().startsWith("COMPLETED (resumed at"),
                 qPrintable(rows.index(1, 1).data().toString()));
        QCOMPARE(rows.index(0, 1).data().toString(), QString("PAUSED (went on in a new row)"));
        const std::vector<std::filesystem::path> received = filesBelow(m_pBob->home() + "/PBoxes");
        QCOMPARE(received.size(), std::size_t{1});
        QCOMPARE(test::file_sha256(received.front().string()), test::file_sha256(parcel));
    }

    void closingAsksWhileTransfersRunAndOkStopsThemWithoutLeavingAPartialFile() {
        SendWindow window(*m_pSender, *m_pAnswers);
        (void)sendLargeFile(window, "Bob");
        // Loopback carries even this parcel in well under a second: catch its first bytes by refreshing at once
        // rather than on the window's timer, and close over it straight away.
        TransferListModel& rows = window.transfers();
        QDeadlineTimer deadline(20000);
        do {
            window.refresh();
        } while ((rows.rowCount() == 0 || rows.transferAt(0).bytes_done == 0) && !deadline.hasExpired());
        QVERIFY(window.runningCount() > 0);

        m_pAnswers->answer_next(IDCANCEL);
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(m_pAnswers->questions_asked().back().caption, std::string("WARNING: ACTIVE CONNECTIONS"));
        QCOMPARE(m_pAnswers->questions_asked().back().text, std::string("Stop the transfer of this window?"));

        m_pAnswers->answer_next(IDOK);
        QVERIFY(!window.close());
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 15000);
        QCOMPARE(window.runningCount(), std::size_t{0});
        QTRY_COMPARE_WITH_TIMEOUT(m_pReceiver->incoming().running_count(), std::size_t{0}, 15000);
        QVERIFY(filesBelow(m_pBob->home() + "/PBoxes").empty());
    }

private:
    // Shows the window and sends a file of 128 MiB to `destination` from it; the file's path.
    std::string sendLargeFile(SendWindow& window, const QString& destination) {
        window.show();
        choose(window, destination);
        const std::string parcel = m_oHome->path() + "/large.bin";
        test::write_random_file(parcel, 128u * 1024u * 1024u);
        window.sendFiles({parcel});
        return parcel;
    }

    void pinAliceAndBob() {
        QVERIFY(delete_profile(m_pBob->settings(), "Alice"));
        m_pBob->befriend(*m_pAlice, 0xE40, true);
        friend_profile bob = m_pBob->as_friend(0xE40, true);
        copy_text_field(bob.name, "Pinned Bob");
        copy_text_field(bob.address, "127.0.0.1");
        bob.port = m_nPort;
        QVERIFY(save_profile(m_pAlice->settings(), bob));
    }

    std::unique_ptr<test::test_identity> m_pAlice;
    std::unique_ptr<test::test_identity> m_pBob;
    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<app::program> m_pReceiver;
    std::unique_ptr<app::program> m_pSender;
    int m_nPort = 0;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::SendWindowTest)
#include "send_window_test.moc"
