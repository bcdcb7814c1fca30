#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "app/autostart.h"
#include "app/receive_service.h"
#include "integration/peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/desktop_program.h"
#include "ui/dialogs/user_settings_dialog.h"
#include "ui/support/no_lan_announcement.h"
#include "ui/support/no_port_mapping.h"
#include "ui/support/recording_notifier.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
// What the window system sends when the user clicks the close box.
void clickCloseBox(QWidget& window) {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    (void)QCoreApplication::instance()->notify(&window, &close);
}

QString entryText() {
    std::ifstream file(app::autostart_entry_path());
    std::stringstream text;
    text << file.rdbuf();
    return QString::fromStdString(text.str());
}
} // namespace

// Bob's program listening on loopback, and what keeps it receiving with its window closed or starts it at login.
// The login entry goes below an XDG_CONFIG_HOME of the test's own.
class TrayTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_oHome.emplace();
        QVERIFY(qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_oHome->path() + "/config")));
        m_pBob = std::make_unique<test::test_identity>("Bob");
        test::prepare_peer(*m_pBob);
        QVERIFY(write_dword_setting(m_pBob->settings().machine_key(), names::interface_ip_port, 0));
        QVERIFY(test::keep_off_the_router(m_pBob->settings()) && test::keep_off_the_lan(m_pBob->settings()));
        m_pBob->settings().load_settings();
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
    }

    void cleanup() {
        m_pWindow.reset();
        m_pProgram.reset();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_pBob.reset();
        m_oHome.reset();
        qunsetenv("XDG_CONFIG_HOME");
    }

    void theCloseBoxAndEscapePutTheWindowInTheTrayAndExitStillQuits() {
        startWindow();
        test::RecordingNotifier tray;
        CloseToTray closing(*m_pProgram, *m_pWindow, &tray);
        clickCloseBox(*m_pWindow);
        QVERIFY(!m_pWindow->isVisible() && !m_pWindow->ended());
        QVERIFY(m_pProgram->incoming().listening());
        QCOMPARE(tray.shown_so_far().size(), std::size_t{1});
        QCOMPARE(tray.shown_so_far().front().body,
                 QString("Quorvel keeps receiving in the background. Quit from the tray icon's menu."));

        // Said once per user, not once per close.
        m_pWindow->show();
        QTest::keyClick(m_pWindow.get(), Qt::Key_Escape);
        QVERIFY(!m_pWindow->isVisible() && !m_pWindow->ended());
        QCOMPARE(tray.shown_so_far().size(), std::size_t{1});

        m_pAnswers->answer_next(app::IDOK);
        m_pWindow->exitCommand();
        QVERIFY(m_pWindow->ended());
        QVERIFY(!m_pProgram->incoming().listening());
    }

    void closingQuitsWithoutATrayOrWhenTheUserTurnedItOff_data() {
        QTest::addColumn<bool>("trayAvailable");
        QTest::newRow("no tray") << false;
        QTest::newRow("turned off in the user settings") << true;
    }

    void closingQuitsWithoutATrayOrWhenTheUserTurnedItOff() {
        QFETCH(bool, trayAvailable);
        startWindow();
        test::RecordingNotifier tray;
        if (trayAvailable) {
            BackgroundOptionsBox options(*m_pProgram, nullptr, true, "/usr/bin/quorvel");
            auto* keep = options.findChild<QCheckBox*>("keepReceivingCheck");
            QVERIFY(keep->isEnabled() && keep->isChecked());
            keep->click();
            QVERIFY(options.apply().ok());
        }
        CloseToTray closing(*m_pProgram, *m_pWindow, trayAvailable ? &tray : nullptr);
        clickCloseBox(*m_pWindow);
        QVERIFY(m_pWindow->ended());
        QVERIFY(!m_pProgram->incoming().listening());
        QVERIFY(tray.shown_so_far().empty());
    }

    // Offscreen there is no tray to show it in, but the icon's tooltip and menu are there all the same.
    void theTrayIconSaysWhereItReceivesAndItsMenuOpensSendsAndQuits() {
        startWindow();
        TrayIcon icon(*m_pProgram, *m_pWindow);
        CloseToTray closing(*m_pProgram, *m_pWindow, &icon);
        QCOMPARE(icon.toolTip(), "Receiving on " + QString::fromStdString(m_pProgram->incoming().bound_address()));
        QVERIFY(icon.toolTip().startsWith("Receiving on 127.0.0.1:"));

        QSignalSpy sends(&icon, &TrayIcon::sendFilesRequested);
        m_pWindow->hide();
        icon.menu().findChild<QAction*>("traySendFilesAction")->trigger();
        QCOMPARE(sends.count(), 1);
        icon.menu().findChild<QAction*>("trayOpenAction")->trigger();
        QVERIFY(m_pWindow->isVisible());

        // From the tray, with the window put away, "Quit" ends the program rather than putting it away again.
        clickCloseBox(*m_pWindow);
        QVERIFY(!m_pWindow->isVisible());
        icon.menu().findChild<QAction*>("trayQuitAction")->trigger();
        QVERIFY(m_pWindow->ended());
        QTRY_COMPARE_WITH_TIMEOUT(icon.toolTip(), QString("Not receiving: stopped."), 3 * TrayIcon::refresh_period_ms);
    }

    void theStartAtLoginCheckboxWritesTheLoginEntryAndRemovesIt() {
        startProgram();
        const QString program = QCoreApplication::applicationFilePath();
        QVERIFY2(!program.contains(' '), "the test's own path would be quoted in Exec");
        {
            UserSettingsDialog settings(*m_pProgram, *m_pAnswers);
            auto* login = settings.findChild<QCheckBox*>("startAtLoginCheck");
            QVERIFY(!login->isChecked());
            login->click();
            // Cancel writes nothing.
            settings.findChild<QPushButton*>("cancelButton")->click();
            QVERIFY(!app::starts_at_login());
        }
        {
            UserSettingsDialog settings(*m_pProgram, *m_pAnswers);
            settings.findChild<QCheckBox*>("startAtLoginCheck")->click();
            settings.findChild<QPushButton*>("okButton")->click();
            QCOMPARE(settings.result(), int(QDialog::Accepted));
        }
        QCOMPARE(QString::fromStdString(app::autostart_entry_path()),
                 QString::fromStdString(m_oHome->path()) + "/config/autostart/quorvel.desktop");
        QVERIFY2(entryText().contains("\nExec=" + program + " --minimized\n"), qPrintable(entryText()));
        UserSettingsDialog settings(*m_pProgram, *m_pAnswers);
        auto* login = settings.findChild<QCheckBox*>("startAtLoginCheck");
        QVERIFY(login->isChecked());
        login->click();
        settings.findChild<QPushButton*>("okButton")->click();
        QVERIFY(!app::starts_at_login());
    }

    // Without a tray (offscreen has none), a start at login comes up minimized, without the splash.
    void aStartAtLoginWithoutATrayComesUpMinimized() {
        test::RecordingNotifier notifier;
        DesktopProgram desktop(m_pBob->environment(), *m_pAnswers, notifier, 1024);
        desktop.setStartMinimized(true);
        desktop.start();
        if (AboutBox* notice = desktop.firstRunNotice()) {
            notice->accept();
        }
        QTRY_VERIFY(desktop.mainWindow() != nullptr);
        QVERIFY(desktop.mainWindow()->isMinimized());
        QVERIFY(desktop.splash() == nullptr && desktop.tray() == nullptr);
        QVERIFY(desktop.program().incoming().listening());
    }

private:
    void startProgram() {
        m_pProgram = std::make_unique<app::program>(m_pBob->environment(), *m_pAnswers);
        m_pProgram->start();
        QVERIFY(m_pProgram->incoming().listening());
    }

    void startWindow() {
        startProgram();
        m_pWindow = std::make_unique<MainWindow>(*m_pProgram, *m_pAnswers);
        m_pWindow->show();
    }

    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pBob;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<app::program> m_pProgram;
    std::unique_ptr<MainWindow> m_pWindow;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::TrayTest)
#include "tray_test.moc"
