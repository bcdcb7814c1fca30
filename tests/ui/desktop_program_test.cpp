#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "app/friends/profile_service.h"
#include "app/internal/friend_records.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/identity_service.h"
#include "app/receive_service.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/desktop_program.h"
#include "ui/dialogs/splash_screen.h"
#include "ui/instance_channel.h"
#include "ui/message_style.h"
#include "ui/support/no_lan_announcement.h"
#include "ui/support/no_port_mapping.h"
#include "ui/support/recording_notifier.h"
#include "ui/support/scripted_answers.h"
#include "ui/support/silent_connection.h"

namespace tiv::ui {

namespace {
// One start of the program on a home, with everything it is given: its settings, 1024-bit keys, scripted answers
// and a notifier that records.
struct OneStart {
    explicit OneStart(const std::string& home)
        : provider(home + "/keys", 1024), program({settings, provider}, answers, notifier, 1024) {
        // The listener starts with start(), after this.
        QVERIFY(test::keep_off_the_router(settings));
        QVERIFY(test::keep_off_the_lan(settings));
    }

    qvl_settings_data settings;
    crypto_provider provider;
    test::ScriptedAnswers answers;
    test::RecordingNotifier notifier;
    DesktopProgram program;
};

// Clicks OK on the first-run notice and closes the set-up dialogs that follow it unchanged; their captions, in
// the order they came.
QStringList passFirstRun(DesktopProgram& program) {
    QStringList met;
    QTest::mouseClick(program.firstRunNotice()->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    // The keys are made on a worker, under a window that says so; the set-up follows once they are there.
    if (program.keyMaking() != nullptr) {
        met << program.keyMaking()->windowTitle();
    }
    QDeadlineTimer deadline(60000);
    while (program.keyMaking() != nullptr && !deadline.hasExpired()) {
        QTest::qWait(10);
    }
    while (QDialog* step = program.setUpStep()) {
        met << step->windowTitle();
        step->reject();
    }
    return met;
}

// A first run on the home, after which the program listens on any free port and keeps parcels below `root`.
void completeFirstRun(const std::string& home, const std::string& root = {}) {
    OneStart start(home);
    start.program.start();
    (void)passFirstRun(start.program);
    QVERIFY(write_dword_setting(start.settings.machine_key(), names::interface_ip_port, 0));
    QVERIFY(root.empty() || write_text_setting(start.settings.user_key(), names::parcel_box_directory_root, root));
    QVERIFY(start.program.mainWindow()->close());
}

// The send window on screen, if one is.
SendWindow* visibleSendWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* sending = qobject_cast<SendWindow*>(window); sending != nullptr && sending->isVisible()) {
            return sending;
        }
    }
    return nullptr;
}

// A desktop that cannot make the box telling that the parcel box root could not be created.
class FailingDesktop final : public test::answer_script {
public:
    int ask(const std::string& text, const std::string& caption, unsigned style) override {
        return caption == "Could Not Create!" ? throw std::runtime_error("no dialog could be made")
                                              : answer_script::ask(text, caption, style);
    }

protected:
    void unexpected(const std::string& what) override { QTest::qFail(what.c_str(), __FILE__, __LINE__); }
};
} // namespace

// The windows of a start, in the order a user meets them, and the splash that ends it.
class DesktopProgramTest : public QObject {
    Q_OBJECT
private slots:
    void init() { m_oHome.emplace(); }
    void cleanup() { m_oHome.reset(); }

    void firstRunShowsTheNoticeBeforeAnythingAndASecondRunGoesStraightToTheMainWindow() {
        {
            OneStart start(m_oHome->path());
            auto& [settings, provider, answers, notifier, program] = start;
            program.start();
            QVERIFY(program.firstRunNotice() != nullptr && program.firstRunNotice()->isVisible());
            QCOMPARE(program.firstRunNotice()->windowTitle(), QString("About Quorvel"));
            QVERIFY(program.mainWindow() == nullptr);

            // Set-up is complete however its dialogs end: a cancelled one leaves the defaults standing.
            QCOMPARE(passFirstRun(program), QStringList({"Making Your Keys", "Options", "User Settings"}));
            QTRY_VERIFY(program.mainWindow() != nullptr && program.mainWindow()->isVisible());
            QVERIFY(program.splash()->isVisible());
            QVERIFY(app::setup_complete(settings.machine_key()) && app::setup_complete(settings.user_key()));
            QVERIFY(provider.ready);
            QVERIFY(program.mainWindow()->close());
            QCOMPARE(answers.unused_answers(), std::size_t{0});
        }
        OneStart start(m_oHome->path());
        auto& [settings, provider, answers, notifier, program] = start;
        program.start();
        QVERIFY(program.firstRunNotice() == nullptr && program.setUpStep() == nullptr);
        QVERIFY(program.mainWindow() != nullptr && program.mainWindow()->isVisible());
        QVERIFY(program.splash()->isVisible());

        // A parcel the main window sees stored reaches the desktop.
        app::transfer_view stored;
        stored.direction = app::transfer_direction::receiving;
        stored.friend_name = "Alice";
        stored.state = app::transfer_state::completed;
        stored.finished = true;
        program.mainWindow()->transfers().refresh({stored});
        QCOMPARE(notifier.shown_so_far().size(), std::size_t{1});
        QCOMPARE(notifier.shown_so_far()[0].summary, QString("Parcel from Alice"));

        // "&Friend Status..." makes the friend list once; "&Activity Log..." shows and hides the console.
        auto* friendStatus = program.mainWindow()->findChild<QAction*>("friendStatusAction");
        friendStatus->trigger();
        QPointer<FriendListWindow> friends = program.friendList();
        QVERIFY(friends != nullptr && friends->isVisible());
        friends->close();
        friendStatus->trigger();
        QVERIFY(program.friendList() == friends && friends->isVisible());
        auto* activityLog = program.mainWindow()->findChild<QAction*>("activityLogAction");
        activityLog->trigger();
        QVERIFY(program.console().isVisible());
        activityLog->trigger();
        QVERIFY(!program.console().isVisible());

        // The settings dialogs the first run showed are the Tools menu's too.
        for (const auto& [command, caption] : {std::pair{"userConfigurationAction", "User Settings"},
                                               std::pair{"programConfigurationAction", "Options"}}) {
            QAction* item = program.mainWindow()->findChild<QAction*>(command);
            QTRY_VERIFY(item->isEnabled());
            item->trigger();
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr && dialog->isVisible());
            QCOMPARE(dialog->windowTitle(), QString(caption));
            dialog->reject();
        }
        QVERIFY(program.mainWindow()->close());
    }

    void newConnectionOpensSendWindowsPresetToTheFriendGivenThatGoWhenClosed() {
        OneStart start(m_oHome->path());
        auto& [settings, provider, answers, notifier, program] = start;
        program.start();
        (void)passFirstRun(program);
        QTRY_VERIFY(program.mainWindow() != nullptr);

        emit program.mainWindow()->newConnectionRequested({});
        answers.answer_next(IDOK); // no friend of that name is stored
        emit program.mainWindow()->newConnectionRequested("Carol");
        QList<QPointer<SendWindow>> windows;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* sending = qobject_cast<SendWindow*>(window); sending != nullptr && sending->isVisible()) {
                windows.append(sending);
            }
        }
        QCOMPARE(windows.size(), 2);
        QCOMPARE(answers.questions_asked().back().caption, std::string("WEIRD ERROR!"));
        QStringList firstEntries;
        for (const QPointer<SendWindow>& window : windows) {
            firstEntries << window->findChild<QComboBox*>("destinationCombo")->itemText(0);
            QVERIFY(window->close());
        }
        firstEntries.sort();
        QCOMPARE(firstEntries, QStringList({"<manual>", "Carol"}));
        QTRY_VERIFY(windows[0].isNull() && windows[1].isNull());
        QVERIFY(program.mainWindow()->close());
    }

    // On the main window the user chooses the friend; on a friend's row in Friend Status the row is the choice.
    void filesDroppedOnTheMainWindowOrOnAFriendAreSentToThatFriend() {
        completeFirstRun(m_oHome->path());
        OneStart start(m_oHome->path());
        auto& [settings, provider, answers, notifier, program] = start;
        program.start();
        QTRY_VERIFY(program.mainWindow() != nullptr);
        for (const char* name : {"Alice", "Carol"}) {
            const test::test_identity person(name);
            friend_profile profile = person.as_friend();
            profile.port = 9; // nobody listens: the send fails, its row stays
            const auto stored = app::store_friend(program.program(), app::record_of(profile));
            QVERIFY2(stored.ok(), stored.ok() ? "" : stored.error().text().c_str());
        }
        const std::string parcel = m_oHome->path() + "/photo.jpg";
        std::ofstream(parcel) << "a photo";
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(parcel))});
        QDragEnterEvent enter(QPoint(20, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(program.mainWindow(), &enter);
        QVERIFY(enter.isAccepted());
        answers.choose_next("Carol");
        QDropEvent dropped(QPointF(20, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(program.mainWindow(), &dropped);

        QPointer<SendWindow> opened;
        QTRY_VERIFY((opened = visibleSendWindow()) != nullptr);
        QCOMPARE(opened->findChild<QComboBox*>("destinationCombo")->currentText(), QString("Carol"));
        QTRY_COMPARE(opened->transfers().rowCount(), 1);
        QVERIFY(opened->transfers().transferAt(0).file_name.ends_with("photo.jpg"));
        opened->stopAndClose();
        QTRY_VERIFY(opened.isNull());

        program.mainWindow()->findChild<QAction*>("friendStatusAction")->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(program.friendList()));
        QTreeWidget* friends = program.friendList()->list();
        QWidget* rows = friends->viewport();
        const QPoint alice = friends->visualItemRect(friends->findItems("Alice", Qt::MatchExactly).first()).center();
        const QPoint below(5, rows->height() - 3);
        QDragEnterEvent enterBelow(below, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(rows, &enterBelow);
        QVERIFY(enterBelow.isAccepted());
        QDragMoveEvent stillBelow(below, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(rows, &stillBelow);
        QVERIFY(!stillBelow.isAccepted());
        QDragMoveEvent overAlice(alice, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(rows, &overAlice);
        QVERIFY(overAlice.isAccepted());
        QDropEvent onAlice(alice, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(rows, &onAlice);
        QVERIFY(onAlice.isAccepted());
        QTRY_VERIFY((opened = visibleSendWindow()) != nullptr);
        QCOMPARE(opened->findChild<QComboBox*>("destinationCombo")->currentText(), QString("Alice"));
        QTRY_COMPARE(opened->transfers().rowCount(), 1);
        opened->stopAndClose();
        QTRY_VERIFY(opened.isNull());
        QVERIFY(program.mainWindow()->close());
    }

    void aLaterStartHandsItsFilesToTheRunningProgram() {
        const std::string parcel = m_oHome->path() + "/report.pdf";
        std::ofstream(parcel) << "a report";
        const QString file = QString::fromStdString(parcel);
        const auto request = requestFromArguments({"--send", "Alice", file});
        QVERIFY(request && request->friendName == "Alice" && request->files == QStringList{file});
        QCOMPARE(requestFromArguments({"--send", file})->friendName, QString()); // a file is not a friend
        QVERIFY(QDir::isAbsolutePath(requestFromArguments({"report.pdf"})->files.front()));
        QVERIFY(!requestFromArguments({"--bogus"}));
        QVERIFY(!decodeRequest("Alice\nrelative/path\n"));
        const QString socket = QString::fromStdString(m_oHome->path() + "/desktop.socket");
        QVERIFY2(!handToRunningInstance(socket, *request, 500), "nobody runs yet");

        completeFirstRun(m_oHome->path());
        OneStart start(m_oHome->path());
        auto& [settings, provider, answers, notifier, program] = start;
        program.start();
        QTRY_VERIFY(program.mainWindow() != nullptr);
        friend_profile alice = test::test_identity("Alice").as_friend();
        alice.port = 9; // nobody listens: the send fails, its row stays
        QVERIFY(app::store_friend(program.program(), app::record_of(alice)).ok());
        InstanceServer running(socket);
        QVERIFY(running.listening());
        connect(&running, &InstanceServer::requested, &program, &DesktopProgram::handleRequest);
        QVERIFY2(!InstanceServer(socket).listening(), "a second program leaves the running one's socket alone");

        QVERIFY(handToRunningInstance(socket, *request));
        QPointer<SendWindow> opened;
        QTRY_VERIFY((opened = visibleSendWindow()) != nullptr);
        QCOMPARE(opened->findChild<QComboBox*>("destinationCombo")->currentText(), QString("Alice"));
        QTRY_COMPARE(opened->transfers().rowCount(), 1);
        QVERIFY(opened->transfers().transferAt(0).file_name.ends_with("report.pdf"));
        opened->stopAndClose();
        QTRY_VERIFY(opened.isNull());
        QVERIFY(program.mainWindow()->close());
    }

    void quitAsksOnceForEveryWindowThenClosesThemAllOrKeepsThemAll() {
        completeFirstRun(m_oHome->path());
        OneStart start(m_oHome->path());
        auto& [settings, provider, answers, notifier, program] = start;
        QSignalSpy ended(&program, &DesktopProgram::ended);
        program.start();
        const unique_fd connection = test::silent_connection(program.program().incoming().bound_address());
        QTRY_COMPARE(program.program().incoming().running_count(), std::size_t{1});
        MainWindow* main = program.mainWindow();
        emit main->newConnectionRequested({});
        QPointer<SendWindow> sending;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            sending = sending ? sending.data() : qobject_cast<SendWindow*>(window);
        }
        main->findChild<QAction*>("friendStatusAction")->trigger();
        program.console().show();

        answers.answer_next(IDOK);     // "Really quit?"
        answers.answer_next(IDCANCEL); // the active connections, once for every window
        main->exitCommand();
        QVERIFY(ended.isEmpty() && main->isVisible() && sending->isVisible() &&
                program.program().incoming().listening());

        answers.answer_next(IDOK);
        answers.answer_next(IDOK);
        main->exitCommand();
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(sending.isNull() && !main->isVisible() && !program.friendList()->isVisible());
        QVERIFY(!program.console().isVisible() && !program.program().incoming().listening());
        QCOMPARE(answers.questions_asked().size(), std::size_t{4});
    }

    void aFailingStartUpIsShownWithItsReasonAndEndsTheProgram() {
        completeFirstRun(m_oHome->path(), "/" + std::string(1100, 'p')); // longer than a path may be
        qvl_settings_data settings;
        crypto_provider provider(m_oHome->path() + "/keys", 1024);
        FailingDesktop answers;
        test::RecordingNotifier notifier;
        DesktopProgram program({settings, provider}, answers, notifier, 1024);
        QSignalSpy ended(&program, &DesktopProgram::ended);
        answers.answer_next(IDOK);
        program.start();
        QVERIFY(ended.size() == 1 && program.exitCode() != 0);
        const test::answer_script::asked& box = answers.questions_asked().back();
        QCOMPARE(box.caption + ": " + box.text,
                 "Quorvel:: Error: Weird error in CQuorvelDlg::OnInitDialog. Exiting...\nno dialog could be made");
        QCOMPARE(box.style, unsigned{MB_OK | MB_ICONERROR});
    }

    void splashGoesAfterThreeSecondsOrAtOnceOnAClickOrAKey() {
        SplashScreen timed;
        QElapsedTimer clock;
        clock.start();
        timed.showCentred();
        QCOMPARE(timed.size(), SplashScreen::picture_size);
        QTRY_VERIFY_WITH_TIMEOUT(!timed.isVisible(), 6000);
        QVERIFY(clock.elapsed() >= SplashScreen::shown_ms - 100);

        SplashScreen clicked;
        clicked.showCentred();
        QTest::mouseClick(&clicked, Qt::RightButton);
        QVERIFY(!clicked.isVisible());

        SplashScreen keyed;
        keyed.showCentred();
        QTest::keyClick(&keyed, Qt::Key_Space);
        QVERIFY(!keyed.isVisible());
    }

private:
    std::optional<test::temp_home> m_oHome;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::DesktopProgramTest)
#include "desktop_program_test.moc"
