#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <optional>
#include <stdexcept>

#include "app/identity_service.h"
#include "crypto/crypto_provider.h"
#include "net/transfer_state.h"
#include "settings/qvl_settings_data.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "ui/desktop_program.h"
#include "ui/splash_screen.h"
#include "ui/support/recording_notifier.h"
#include "ui/support/scripted_answers.h"
#include "ui/support/silent_connection.h"

namespace tiv::ui {

namespace {
// One start of the program on a home, with everything it is given: its settings, 1024-bit keys, scripted answers
// and a notifier that records.
struct OneStart {
    explicit OneStart(const std::string& home)
        : provider(home + "/keys", 1024), program(settings, provider, answers, notifier, 1024) {}

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
    QTest::mouseClick(program.firstRunNotice()->findChild<QPushButton*>("id1"), Qt::LeftButton);
    while (QDialog* step = program.setUpStep()) {
        met << step->windowTitle();
        step->reject();
    }
    return met;
}

// A first run on the home, after which the program listens on a port of the system's choosing, with the user's
// setting `name` set to `value` when given.
void completeFirstRun(const std::string& home, const char* name = nullptr, const std::string& value = {}) {
    OneStart start(home);
    start.program.start();
    (void)passFirstRun(start.program);
    QTRY_VERIFY(start.program.mainWindow() != nullptr);
    QVERIFY(write_dword_setting(start.settings.machine_key(), names::interface_ip_port, 0));
    if (name != nullptr) {
        QVERIFY(write_text_setting(start.settings.user_key(), name, value));
    }
    QVERIFY(start.program.mainWindow()->close());
}

// Answers from a script, except that the desktop cannot show the box captioned `failing`.
class DesktopFailingAt final : public test::answer_script {
public:
    explicit DesktopFailingAt(std::string failing) : m_strFailing(std::move(failing)) {}
    int ask(const std::string& text, const std::string& caption, unsigned style) override {
        if (caption == m_strFailing) {
            throw std::runtime_error("no dialog could be made");
        }
        return answer_script::ask(text, caption, style);
    }

protected:
    void unexpected(const std::string& what) override { QTest::qFail(what.c_str(), __FILE__, __LINE__); }

private:
    std::string m_strFailing;
};

std::size_t countAsked(const test::answer_script& answers, const std::string& caption) {
    return static_cast<std::size_t>(std::count_if(answers.questions_asked().begin(), answers.questions_asked().end(),
                                                  [&caption](const auto& asked) { return asked.caption == caption; }));
}
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
            QCOMPARE(passFirstRun(program), QStringList({"Options", "User Settings"}));
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
        transfer_snapshot stored;
        stored.direction = transfer_direction::receiving;
        stored.friend_name = "Alice";
        stored.state = COMPLETED;
        stored.finished = true;
        program.mainWindow()->transfers().refresh({stored});
        QCOMPARE(notifier.shown_so_far().size(), std::size_t{1});
        QCOMPARE(notifier.shown_so_far()[0].summary, QString("Parcel from Alice"));

        // "&Friend Status..." makes the friend list once; "&Activity Log..." shows and hides the console.
        auto* friendStatus = program.mainWindow()->findChild<QAction*>("cmd32791");
        friendStatus->trigger();
        QPointer<FriendListWindow> friends = program.friendList();
        QVERIFY(friends != nullptr && friends->isVisible());
        friends->close();
        friendStatus->trigger();
        QVERIFY(program.friendList() == friends && friends->isVisible());
        auto* activityLog = program.mainWindow()->findChild<QAction*>("cmd32785");
        activityLog->trigger();
        QVERIFY(program.console().isVisible());
        activityLog->trigger();
        QVERIFY(!program.console().isVisible());

        // The settings dialogs the first run showed are the Tools menu's too.
        for (const auto& [command, caption] :
             {std::pair{"cmd32787", "User Settings"}, std::pair{"cmd32777", "Options"}}) {
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
            firstEntries << window->findChild<QComboBox*>("id1032")->itemText(0);
            QVERIFY(window->close());
        }
        firstEntries.sort();
        QCOMPARE(firstEntries, QStringList({"<manual>", "Carol"}));
        QTRY_VERIFY(windows[0].isNull() && windows[1].isNull());
        QVERIFY(program.mainWindow()->close());
    }

    void quitAsksOnceForEveryWindowThenClosesThemAllOrKeepsThemAll() {
        completeFirstRun(m_oHome->path());
        OneStart start(m_oHome->path());
        auto& [settings, provider, answers, notifier, program] = start;
        QSignalSpy ended(&program, &DesktopProgram::ended);
        program.start();
        QPointer<MainWindow> main = program.mainWindow();
        const unique_fd connection = test::silent_connection(program.spine().incoming().bound_address());
        QVERIFY(connection.get() >= 0);
        QTRY_COMPARE(program.spine().incoming().running_count(), std::size_t{1});
        emit main->newConnectionRequested({});
        QPointer<SendWindow> sending;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* one = qobject_cast<SendWindow*>(window); one != nullptr && one->isVisible()) {
                sending = one;
            }
        }
        QVERIFY(sending != nullptr);
        main->findChild<QAction*>("cmd32791")->trigger();
        QPointer<FriendListWindow> friends = program.friendList();
        program.console().show();

        answers.answer_next(IDCANCEL); // "Really quit?"
        main->exitCommand();
        answers.answer_next(IDOK);
        answers.answer_next(IDCANCEL); // the active connections
        main->exitCommand();
        QCoreApplication::processEvents();
        QVERIFY(ended.isEmpty() && main->isVisible() && sending && sending->isVisible());
        QVERIFY(program.spine().incoming().listening() && program.console().isVisible());

        answers.answer_next(IDOK);
        answers.answer_next(IDOK);
        main->exitCommand();
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(sending.isNull() && !main->isVisible() && !friends->isVisible() && !program.console().isVisible());
        QVERIFY(!program.spine().incoming().listening());
        QCOMPARE(countAsked(answers, "WARNING: ACTIVE CONNECTIONS"), std::size_t{2});
        QCOMPARE(answers.questions_asked().size(), std::size_t{5});
    }

    void aFailingStartUpIsShownWithItsReasonAndEndsTheProgram() {
        // A parcel box root longer than a path may be is told in a box: the one the desktop fails to show.
        completeFirstRun(m_oHome->path(), names::parcel_box_directory_root, "/" + std::string(1100, 'p'));
        qvl_settings_data settings;
        crypto_provider provider(m_oHome->path() + "/keys", 1024);
        DesktopFailingAt answers("Could Not Create!");
        test::RecordingNotifier notifier;
        DesktopProgram program(settings, provider, answers, notifier, 1024);
        QSignalSpy ended(&program, &DesktopProgram::ended);
        answers.answer_next(IDOK);
        program.start();
        QCOMPARE(ended.size(), 1);
        QVERIFY(program.exitCode() != 0);
        const test::answer_script::asked& shown = answers.questions_asked().back();
        QCOMPARE(shown.text,
                 std::string("Weird error in CQuorvelDlg::OnInitDialog. Exiting...\nno dialog could be made"));
        QCOMPARE(shown.caption, std::string("Quorvel:: Error"));
        QCOMPARE(shown.style, unsigned{MB_OK | MB_ICONERROR});
        QVERIFY(program.mainWindow() == nullptr || !program.mainWindow()->isVisible());
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
