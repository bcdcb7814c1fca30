#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

#include "app/activity_switch.h"
#include "app/internal/friend_records.h"
#include "app/internal/profile_service.h"
#include "app/internal/program_parts.h"
#include "app/receive_service.h"
#include "core/text.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/main_window.h"
#include "ui/message_style.h"
#include "ui/support/recording_launcher.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
// Each item's text, or the friend name it carries.
QStringList itemsOf(const QMenu* menu, bool names) {
    QStringList items;
    for (const QAction* item : menu->actions()) {
        items << (names ? item->data().toString() : item->text());
    }
    return items;
}

QAction* itemFor(const QMenu* menu, const QString& name) {
    return menu->actions().at(itemsOf(menu, true).indexOf(name));
}

QByteArray contentOf(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

// The main window's menus over Bob's program, whose friends are Alice, Carol and Dave; Erin is befriended later.
class MainWindowMenusTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char* name : {"Alice", "Carol", "Dave", "Erin"}) {
            m_aFriends.push_back(std::make_unique<test::test_identity>(name));
        }
    }

    void cleanupTestCase() { m_aFriends.clear(); }

    void init() {
        m_oHome.emplace();
        m_pBob = std::make_unique<test::test_identity>("Bob");
        QVERIFY(write_dword_setting(m_pBob->settings().machine_key(), names::interface_ip_port, 20000));
        m_pBob->settings().load_settings();
        for (std::size_t i = 0; i < 3; ++i) {
            m_pBob->befriend(*m_aFriends[i]);
        }
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
        m_pProgram = std::make_unique<app::program>(m_pBob->environment(), *m_pAnswers);
        m_pWindow = std::make_unique<MainWindow>(*m_pProgram, *m_pAnswers);
        m_oLauncher = test::RecordingLauncher();
        m_pWindow->setLauncher(m_oLauncher);
        m_pBoxes = m_pWindow->findChild<QMenu*>("parcelBoxMenu");
        m_pSends = m_pWindow->findChild<QMenu*>("newConnectionMenu");
    }

    void cleanup() {
        m_pWindow.reset();
        m_pProgram.reset();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_pBob.reset();
        m_oHome.reset();
    }

    void friendMenusNameEveryStoredFriendAndFollowTheFriendsOnARebuild() {
        QCOMPARE(itemsOf(m_pBoxes, true), QStringList({"Alice", "Carol", "Dave"}));
        QCOMPARE(itemsOf(m_pSends, true), QStringList({"", "Alice", "Carol", "Dave"}));

        friend_profile erin = m_aFriends[3]->as_friend();
        erin.port = 20000;
        const auto stored = app::store_friend(m_pBob->settings(), app::record_of(erin));
        QVERIFY2(stored.ok(), stored.error().text().c_str());
        // Only a profile written past the dialogs' name rules can hold a '&'.
        copy_text_field(erin.name, "Tom & Jerry");
        QVERIFY(save_profile(m_pBob->settings(), erin));
        m_pWindow->rebuildProfileMenus();
        QCOMPARE(itemsOf(m_pBoxes, false), QStringList({"Alice", "Carol", "Dave", "Erin", "Tom && Jerry"}));
        QCOMPARE(itemsOf(m_pSends, true), QStringList({"", "Alice", "Carol", "Dave", "Erin", "Tom & Jerry"}));
    }

    void commandsWithoutAHandlerAreDisabledAndActivityLoggingFlipsTheProgramsSwitch() {
        auto* status = m_pWindow->findChild<QAction*>("friendStatusAction");
        QVERIFY(!status->isEnabled() && !m_pSends->menuAction()->isEnabled());
        {
            QSignalSpy heard(m_pWindow.get(), &MainWindow::friendStatusRequested);
            QTRY_VERIFY(status->isEnabled());
        }
        // The receiver has gone, unannounced: the menu finds out as it opens.
        emit qobject_cast<QMenu*>(status->parent())->aboutToShow();
        QVERIFY(!status->isEnabled());

        QSignalSpy opened(m_pWindow.get(), &MainWindow::newConnectionRequested);
        QTRY_VERIFY(m_pSends->menuAction()->isEnabled());
        itemFor(m_pSends, "Carol")->trigger();
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0][0].toString(), QString("Carol"));

        auto* logging = m_pWindow->findChild<QAction*>("activityLoggingAction");
        for (const bool on : {true, false}) {
            logging->trigger();
            QVERIFY(logging->isChecked() == on && app::activity_logging_on() == on);
        }
    }

    void parcelBoxFolderIsMadeBeforeItIsShownAndOneOutsideTheRootIsRefused() {
        const std::string root = m_pBob->settings().text(text_setting::parcel_box_directory_root);
        itemFor(m_pBoxes, "Alice")->trigger();
        QCOMPARE(m_oLauncher.opened, QStringList{QString::fromStdString(root + "/Alice")});
        struct stat made {};
        QVERIFY(::stat((root + "/Alice").c_str(), &made) == 0 && S_ISDIR(made.st_mode));
        QCOMPARE(made.st_mode & 0777, 0700U);

        friend_profile escaping = m_aFriends[1]->as_friend();
        copy_text_field(escaping.receipt_directory, "../Carol");
        QVERIFY(save_profile(m_pBob->settings(), escaping));
        m_pAnswers->answer_next(IDOK);
        itemFor(m_pBoxes, "Carol")->trigger();
        QCOMPARE(m_oLauncher.opened.size(), 1);
        QVERIFY(m_pAnswers->questions_asked().back().text.find("\"../Carol\"") != std::string::npos);
        QVERIFY(!QDir(QString::fromStdString(root + "/../Carol")).exists());
    }

    void exportWritesTheProfileFileAndSpeaksOnlyWhenItCouldNot() {
        auto* exportItem = m_pWindow->findChild<QAction*>("exportProfileAction");
        const std::string directory = m_oHome->path();
        for (const char* chosen : {"/bob", "/bob.prf.txt"}) {
            m_pAnswers->choose_next(directory + chosen);
            exportItem->trigger();
        }
        const QByteArray written = contentOf(directory + "/bob.prf");
        const QList<QByteArray> lines = written.split('\n');
        QCOMPARE(lines.size(), 7);
        const char* keys[] = {"NAME: ", "UUID: ", "ADDR: ", "PORT: ", "AKEY: ", "SKEY: "};
        for (int i = 0; i < 6; ++i) {
            QVERIFY2(lines[i].startsWith(keys[i]) && lines[i].endsWith('\r'), lines[i].constData());
        }
        QCOMPARE(lines[3], QByteArray("PORT: 20000\r"));
        // A 1024-bit key's blob is 148 bytes, in hex on one line.
        QCOMPARE(lines[4].size(), 6 + 296 + 1);
        QCOMPARE(contentOf(directory + "/bob.prf.txt"), written);
        QVERIFY(m_pWindow->statusBar()->currentMessage().contains(QString::fromStdString(directory + "/bob.prf.txt")));

        const QStringList before = QDir(QString::fromStdString(directory)).entryList();
        m_pAnswers->choose_next(std::nullopt);
        exportItem->trigger();
        QCOMPARE(QDir(QString::fromStdString(directory)).entryList(), before);

        m_pAnswers->choose_next(directory + "/missing/bob");
        m_pAnswers->answer_next(IDOK);
        exportItem->trigger();
        const test::ScriptedAnswers::asked& box = m_pAnswers->questions_asked().at(0);
        QVERIFY2(box.caption == "Exporting Profile..." &&
                     box.text.starts_with("Could not open the requested file!\n") &&
                     box.text.find("/missing/bob.prf") != std::string::npos,
                 box.text.c_str());
    }

private:
    std::vector<std::unique_ptr<test::test_identity>> m_aFriends;
    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pBob;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<app::program> m_pProgram;
    std::unique_ptr<MainWindow> m_pWindow;
    QMenu* m_pBoxes = nullptr;
    QMenu* m_pSends = nullptr;
    test::RecordingLauncher m_oLauncher;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::MainWindowMenusTest)
#include "main_window_menus_test.moc"
