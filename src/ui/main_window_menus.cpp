// The main window's menu bar: its items, the friend items rebuilt from the stored friends, and the commands that
// open a friend's parcel box folder.
#include <QMenuBar>
#include <QStatusBar>

#include "app/activity_switch.h"
#include "app/friends/profile_service.h"
#include "app/settings/parcel_box_folder.h"
#include "ui/dialogs/profile_export.h"
#include "ui/main_window.h"
#include "ui/message_style.h"

namespace tiv::ui {

namespace {
// '&' marks a mnemonic in an item's text; a friend's name shows as it is.
QString itemText(QString name) {
    return name.replace('&', "&&");
}

// Later, not at once: the item may be the one whose command is running.
void dropItems(QMenu* menu, const QAction* keep = nullptr) {
    for (QAction* item : menu->actions()) {
        if (item != keep) {
            menu->removeAction(item);
            item->deleteLater();
        }
    }
}
} // namespace

void MainWindow::buildMenus() {
    QMenu* files = menuBar()->addMenu("&Files");
    QAction* send = files->addAction("&Send Files...");
    send->setObjectName("sendFilesAction");
    send->setShortcut(QKeySequence::New);
    connect(send, &QAction::triggered, this, [this] { emit newConnectionRequested(QString()); });
    QAction* exit = files->addAction("&Exit");
    exit->setObjectName("exitAction");
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &MainWindow::exitCommand);

    buildToolsMenu();
    buildViewMenu();

    // "Contents", "Search" and "Index" would have nothing to show: there is no help to open.
    QMenu* help = menuBar()->addMenu("&Help");
    addRequest(help, "&About Quorvel", "aboutAction", &MainWindow::aboutRequested);

    // A receiver that is destroyed takes its connection along without telling this window: each menu checks
    // again as it opens.
    for (const QMenu* menu : menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::enableHandledCommands);
    }
    enableHandledCommands();
    rebuildProfileMenus();
}

void MainWindow::buildToolsMenu() {
    QMenu* tools = menuBar()->addMenu("&Tools");
    m_pNewConnectionMenu = tools->addMenu("&New Connection");
    m_pNewConnectionMenu->setObjectName("newConnectionMenu");
    m_pGenericConnection = m_pNewConnectionMenu->addAction("&Generic Connection...");
    m_pGenericConnection->setObjectName("genericConnectionAction");
    connect(m_pGenericConnection, &QAction::triggered, this, [this] { emit newConnectionRequested(QString()); });
    // The whole submenu goes with its signal: every item of it opens a send window.
    m_aHandledCommands.push_back(
        {QMetaMethod::fromSignal(&MainWindow::newConnectionRequested), m_pNewConnectionMenu->menuAction()});
    tools->addSeparator();
    addRequest(tools, "&Friend Status...", "friendStatusAction", &MainWindow::friendStatusRequested);
    addRequest(tools, "Friend &Profiles...", "friendProfilesAction", &MainWindow::friendProfilesRequested);
    tools->addSeparator();
    addRequest(tools, "&User Configuration...", "userConfigurationAction", &MainWindow::userConfigurationRequested);
    QAction* exportProfile = tools->addAction("&Export User Profile");
    exportProfile->setObjectName("exportProfileAction");
    connect(exportProfile, &QAction::triggered, this, [this] {
        if (const std::optional<std::string> written = exportUserProfile(m_oQuestions, m_oProgram)) {
            statusBar()->showMessage("Your profile is in " + QString::fromStdString(*written) +
                                     ": give this file to your friends.");
        }
    });
    tools->addSeparator();
    addRequest(tools, "Program &Configuration...", "programConfigurationAction",
               &MainWindow::programConfigurationRequested);
}

void MainWindow::buildViewMenu() {
    QMenu* view = menuBar()->addMenu("&View");
    m_pParcelBoxMenu = view->addMenu("&Parcel Box Directory");
    m_pParcelBoxMenu->setObjectName("parcelBoxMenu");
    QAction* logging = view->addAction("Activity &Logging");
    logging->setObjectName("activityLoggingAction");
    logging->setCheckable(true);
    logging->setChecked(app::activity_logging_on());
    connect(logging, &QAction::triggered, this, [logging] { logging->setChecked(app::toggle_activity_logging()); });
    addRequest(view, "&Activity Log...", "activityLogAction", &MainWindow::activityLogRequested);
    QAction* history = view->addAction("Parcel &History");
    history->setObjectName("parcelHistoryAction");
    history->setShortcut(QKeySequence("Ctrl+H"));
    connect(history, &QAction::triggered, this, [this] { m_pTabs->setCurrentWidget(m_pHistory); });
}

QAction* MainWindow::addRequest(QMenu* menu, const char* text, const char* objectName, void (MainWindow::*signal)()) {
    QAction* item = menu->addAction(QString::fromLatin1(text));
    item->setObjectName(objectName);
    connect(item, &QAction::triggered, this, signal);
    m_aHandledCommands.push_back({QMetaMethod::fromSignal(signal), item});
    return item;
}

void MainWindow::enableHandledCommands() {
    for (const HandledCommand& command : m_aHandledCommands) {
        command.item->setEnabled(isSignalConnected(command.signal));
    }
}

// Qt calls these with its connection lock held, where asking whether a signal is connected would wait on that
// same lock for ever: the items are brought up to date once the event loop runs again.
void MainWindow::connectNotify(const QMetaMethod& signal) {
    QMainWindow::connectNotify(signal);
    QMetaObject::invokeMethod(this, &MainWindow::enableHandledCommands, Qt::QueuedConnection);
}

void MainWindow::disconnectNotify(const QMetaMethod& signal) {
    QMainWindow::disconnectNotify(signal);
    QMetaObject::invokeMethod(this, &MainWindow::enableHandledCommands, Qt::QueuedConnection);
}

void MainWindow::rebuildProfileMenus() {
    dropItems(m_pNewConnectionMenu, m_pGenericConnection);
    dropItems(m_pParcelBoxMenu);
    std::vector<app::friend_summary> friends;
    if (auto listed = app::list_friends(m_oProgram)) {
        friends = std::move(*listed);
    } else {
        app::note_in_activity_log("The friend menus are empty: " + listed.error().text());
    }
    for (const app::friend_summary& one : friends) {
        const QString name = QString::fromStdString(one.name);
        QAction* folder = m_pParcelBoxMenu->addAction(itemText(name));
        folder->setData(name);
        connect(folder, &QAction::triggered, this, [this, name] { openParcelBoxFolder(name); });
        QAction* send = m_pNewConnectionMenu->addAction(itemText(name));
        send->setData(name);
        connect(send, &QAction::triggered, this, [this, name] { emit newConnectionRequested(name); });
    }
    m_pParcelBoxMenu->menuAction()->setEnabled(!m_pParcelBoxMenu->actions().isEmpty());
}

void MainWindow::openParcelBoxFolder(const QString& friendName) {
    const auto folder = app::parcel_box_folder(m_oProgram, friendName.toStdString());
    if (!folder) {
        (void)m_oQuestions.ask(sentenceText(folder.error().text()), "Parcel Box Directory", MB_OK | MB_ICONERROR);
        return;
    }
    if (!m_pLauncher->open(QString::fromStdString(*folder))) {
        (void)m_oQuestions.ask("No program could show the folder " + *folder + ".", "Parcel Box Directory",
                               MB_OK | MB_ICONERROR);
    }
}

} // namespace tiv::ui
