#include "ui/desktop_program.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "app/friends/profile_service.h"
#include "app/identity.h"
#include "app/keys.h"
#include "app/settings/program_options.h"
#include "ui/dialogs/profile_dialog.h"
#include "ui/dialogs/program_options_dialog.h"
#include "ui/dialogs/user_settings_dialog.h"
#include "ui/failure_reason.h"
#include "ui/message_style.h"
#include "ui/qt_questions.h"
#include "ui/transfers/transfer_texts.h"

namespace tiv::ui {

namespace {
// A dialog that deletes itself once closed, shown without an event loop of its own; `whenDone`, when given, runs
// however it ends.
template <typename Done> QDialog* openDialog(QDialog* dialog, QObject* receiver, Done whenDone) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, receiver, std::move(whenDone));
    dialog->open();
    return dialog;
}

QDialog* openDialog(QDialog* dialog) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}
} // namespace

DesktopProgram::DesktopProgram(app::questions& questions, Notifier& notifier, unsigned first_key_bits)
    : DesktopProgram(nullptr, questions, notifier, first_key_bits) {}

DesktopProgram::DesktopProgram(const app::program_environment& environment, app::questions& questions,
                               Notifier& notifier, unsigned first_key_bits)
    : DesktopProgram(&environment, questions, notifier, first_key_bits) {}

DesktopProgram::DesktopProgram(const app::program_environment* environment, app::questions& questions,
                               Notifier& notifier, unsigned first_key_bits)
    : m_oQuestions(questions), m_oNotifier(notifier), m_nFirstKeyBits(first_key_bits),
      m_oProgram(environment != nullptr ? app::program(*environment, questions) : app::program(questions)) {
    QCoreApplication::instance()->installEventFilter(&m_oScreenFit);
    m_oConsole.move(20, 20);
    connect(&m_oEvents, &WindowEvents::logged, &m_oConsole,
            [this](const app::log_event& line) { m_oConsole.appendLine(QString::fromStdString(line.text)); });
    connect(&m_oEvents, &WindowEvents::messageReceived, this, &DesktopProgram::showMessage);
}

// The main window goes before the engine, whose shutdown it may still have to run.
DesktopProgram::~DesktopProgram() {
    // The keys being made write to the program's settings, which go with this object.
    m_oFirstKeys.waitForFinished();
    for (const QPointer<SendWindow>& window : m_aSendWindows) {
        delete window.data();
    }
    for (QDialog* step : {static_cast<QDialog*>(m_pNotice.data()), m_pSetUpStep.data()}) {
        if (step) {
            step->disconnect(this);
            delete step;
        }
    }
    m_pSplash.reset();
    m_pCloseToTray.reset();
    m_pTray.reset();
    m_pMainWindow.reset();
    // A login check or a message under way uses the program's settings and keys: it ends before they do.
    QThreadPool::globalInstance()->waitForDone();
    m_oProgram.shutdown();
}

void DesktopProgram::start() {
    startUpStep([this] {
        if (!app::claim_first_run_notice()) {
            startEngine();
            return;
        }
        auto* notice = new AboutBox;
        m_pNotice = notice;
        openDialog(notice, this, [this] { startUpStep([this] { startEngine(); }); });
    });
}

// Each step runs from the event loop, which must never see an exception: a step's failure stops here.
template <typename Step> void DesktopProgram::startUpStep(Step step) {
    try {
        step();
    } catch (...) {
        startUpFailed(currentFailureReason());
    }
}

void DesktopProgram::startUpFailed(const std::string& reason) {
    m_nExitCode = 1;
    try {
        (void)m_oQuestions.ask("Weird error in CQuorvelDlg::OnInitDialog. Exiting...\n" + reason, "Quorvel:: Error",
                               MB_OK | MB_ICONERROR);
    } catch (...) {
        // The box could not be shown either; ending with the failure's exit code is all that is left.
    }
    m_pSplash.reset();
    if (m_pMainWindow) {
        m_pMainWindow->hide();
    }
    m_oConsole.close();
    m_bEnded = true;
    emit ended();
}

void DesktopProgram::startEngine() {
    if (app::setup_complete(m_oProgram, app::hive::user)) {
        m_oProgram.start();
        setUpMachine();
        return;
    }
    // A new user's keys are made before the engine opens them, so a first start reports no missing keys. It takes
    // seconds: a window says so meanwhile, and the making runs on a worker so that window stays drawn.
    app::load_settings_with_defaults(m_oProgram);
    m_pKeyMaking = std::make_unique<KeyMakingWindow>();
    m_pKeyMaking->show();
    auto* watcher = new QFutureWatcher<app::status>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_pKeyMaking.reset();
        // What stops the keys also stops the listener, which then says why.
        startUpStep([this] {
            m_oProgram.start();
            setUpMachine();
        });
    });
    m_oFirstKeys = QtConcurrent::run(
        [&program = m_oProgram, bits = m_nFirstKeyBits] { return app::make_first_keys(program, bits); });
    watcher->setFuture(m_oFirstKeys);
}

void DesktopProgram::setUpMachine() {
    if (app::setup_complete(m_oProgram, app::hive::machine)) {
        setUpUser();
        return;
    }
    // A machine settings file this user cannot write would bring the set-up back at every start: say why once
    // instead, and leave the machine's set-up to whoever may write it.
    if (const std::optional<std::string> notice = app::machine_settings_notice(m_oProgram)) {
        (void)m_oQuestions.ask(*notice, "Quorvel", MB_OK | MB_ICONWARNING);
        setUpUser();
        return;
    }
    // Cancelled or applied, the machine is set up: the defaults stand where the user changed nothing.
    m_pSetUpStep = openDialog(new ProgramOptionsDialog(m_oProgram, m_oQuestions), this, [this] {
        startUpStep([this] {
            (void)app::mark_setup_complete(m_oProgram, app::hive::machine);
            setUpUser();
        });
    });
}

void DesktopProgram::setUpUser() {
    if (app::setup_complete(m_oProgram, app::hive::user)) {
        showMainWindow();
        return;
    }
    m_pSetUpStep = openDialog(new UserSettingsDialog(m_oProgram, m_oQuestions), this, [this] {
        startUpStep([this] {
            (void)app::mark_setup_complete(m_oProgram, app::hive::user);
            showMainWindow();
        });
    });
}

void DesktopProgram::showMainWindow() {
    m_pMainWindow = std::make_unique<MainWindow>(m_oProgram, m_oQuestions);
    connect(m_pMainWindow.get(), &MainWindow::aboutRequested, this, &DesktopProgram::showAbout);
    connect(m_pMainWindow.get(), &MainWindow::friendStatusRequested, this, &DesktopProgram::showFriendList);
    connect(m_pMainWindow.get(), &MainWindow::friendProfilesRequested, this, &DesktopProgram::showProfileDialog);
    connect(m_pMainWindow.get(), &MainWindow::userConfigurationRequested, this, &DesktopProgram::showUserSettings);
    connect(m_pMainWindow.get(), &MainWindow::programConfigurationRequested, this, &DesktopProgram::showProgramOptions);
    connect(m_pMainWindow.get(), &MainWindow::activityLogRequested, &m_oConsole, &MessageConsole::toggleShown);
    connect(&m_pMainWindow->transfers(), &TransferListModel::incomingSendEnded, this, &DesktopProgram::notifySend);
    connect(m_pMainWindow.get(), &MainWindow::newConnectionRequested, this, &DesktopProgram::openSendWindow);
    connect(m_pMainWindow.get(), &MainWindow::filesDropped, this, &DesktopProgram::sendToChosenFriend);
    m_pMainWindow->setOtherTransfersCounter([this] { return sendWindowTransfers(); });
    connect(m_pMainWindow.get(), &MainWindow::programEnded, this, &DesktopProgram::quit);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_pTray = std::make_unique<TrayIcon>(m_oProgram, *m_pMainWindow);
        connect(m_pTray.get(), &TrayIcon::sendFilesRequested, this, [this] { (void)openSendWindow(QString()); });
    }
    m_pCloseToTray = std::make_unique<CloseToTray>(m_oProgram, *m_pMainWindow, m_pTray.get());
    // Wide enough for every column of a usual file name; the minimum stays the window's own.
    m_pMainWindow->resize(760, 360);
    if (!m_bStartMinimized) {
        m_pMainWindow->show();
        m_pSplash = std::make_unique<SplashScreen>();
        m_pSplash->showCentred();
    } else if (!m_pTray) {
        m_pMainWindow->showMinimized();
    }
    emit started();
    for (const InstanceRequest& request : std::exchange(m_aPendingRequests, {})) {
        handleRequest(request);
    }
}

void DesktopProgram::handleRequest(const InstanceRequest& request) {
    if (m_bEnded) {
        return;
    }
    if (!m_pMainWindow) {
        m_aPendingRequests.push_back(request);
        return;
    }
    m_pMainWindow->showNormal();
    m_pMainWindow->raise();
    m_pMainWindow->activateWindow();
    if (request.files.isEmpty()) {
        return;
    }
    if (request.friendName.isEmpty()) {
        sendToChosenFriend(request.files);
    } else {
        sendToFriend(request.friendName, request.files);
    }
}

void DesktopProgram::quit() {
    if (m_pTray) {
        m_pTray->hide();
    }
    if (m_pSplash) {
        m_pSplash->close();
    }
    if (m_pFriendList) {
        m_pFriendList->close();
    }
    m_oConsole.close();
    // Their stops may take seconds each: they run on workers, and the program ends when the last window is gone.
    for (const QPointer<SendWindow>& window : m_aSendWindows) {
        if (window) {
            connect(window, &QObject::destroyed, this, &DesktopProgram::endOnceSendWindowsAreGone,
                    Qt::QueuedConnection);
            window->stopAndClose();
        }
    }
    endOnceSendWindowsAreGone();
}

void DesktopProgram::endOnceSendWindowsAreGone() {
    const bool sending =
        std::any_of(m_aSendWindows.begin(), m_aSendWindows.end(), [](const auto& window) { return !window.isNull(); });
    if (sending || m_bEnded) {
        return;
    }
    m_bEnded = true;
    emit ended();
}

void DesktopProgram::showAbout() {
    openDialog(new AboutBox(m_pMainWindow.get()));
}

// Made once and kept (hidden when closed) until the main window goes, so its rows and states stay.
void DesktopProgram::showFriendList() {
    if (!m_pFriendList) {
        m_pFriendList = new FriendListWindow(m_oProgram, app::ping_friend_addresses, m_pMainWindow.get());
        connect(m_pFriendList, &FriendListWindow::sendFilesRequested, this,
                [this](const QString& name, const QStringList& paths) {
                    if (paths.isEmpty()) {
                        (void)openSendWindow(name);
                    } else {
                        sendToFriend(name, paths);
                    }
                });
    }
    m_pFriendList->show();
    m_pFriendList->raise();
    m_pFriendList->activateWindow();
}

// Whatever the dialog ended with, saves and deletes may have happened before it closed.
void DesktopProgram::showProfileDialog() {
    openDialog(new ProfileDialog(m_oProgram, m_oQuestions, m_pMainWindow.get()), this, [this] { friendsChanged(); });
}

void DesktopProgram::showUserSettings() {
    openDialog(new UserSettingsDialog(m_oProgram, m_oQuestions, m_pMainWindow.get()));
}

// A dialog that fails to open leaves the program as it was.
void DesktopProgram::showProgramOptions() {
    try {
        openDialog(new ProgramOptionsDialog(m_oProgram, m_oQuestions, m_pMainWindow.get()));
    } catch (...) {
        (void)m_oQuestions.ask("Weird error in creating or operating dialog box...\n" + currentFailureReason(), "ERROR",
                               MB_OK);
    }
}

void DesktopProgram::friendsChanged() {
    if (m_pMainWindow) {
        m_pMainWindow->rebuildProfileMenus();
    }
    if (m_pFriendList) {
        m_pFriendList->reloadFriends();
    }
    for (const QPointer<SendWindow>& window : m_aSendWindows) {
        if (window) {
            window->reloadDestinations();
        }
    }
}

void DesktopProgram::notifySend(const std::vector<app::transfer_view>& rows) {
    if (const std::optional<ParcelNotice> notice = parcelNotice(rows)) {
        m_oNotifier.notifyOffering(QString::fromStdString(notice->summary), QString::fromStdString(notice->body),
                                   {QString::fromStdString(notice->stored_path), notice->several});
    }
}

void DesktopProgram::showMessage(const app::received_message& message) {
    const QString text = QString::fromStdString(message.text);
    m_oConsole.appendLine(QString::fromStdString(app::message_heading(message)) + ":");
    m_oConsole.appendLine("    " + text);
    m_oNotifier.notify(QString::fromStdString("Message from " + message.friend_name), text);
}

SendWindow* DesktopProgram::openSendWindow(const QString& profile) {
    std::erase_if(m_aSendWindows, [](const QPointer<SendWindow>& window) { return window.isNull(); });
    auto* window = new SendWindow(m_oProgram, m_oQuestions, profile);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // A user watching the window sees the outcome there; one who went elsewhere is told.
    connect(window, &SendWindow::sendEnded, this, [this, window](const std::vector<app::transfer_view>& rows) {
        const std::optional<ParcelNotice> notice = sentNotice(rows);
        if (notice && !window->isActiveWindow()) {
            m_oNotifier.notify(QString::fromStdString(notice->summary), QString::fromStdString(notice->body));
        }
    });
    m_aSendWindows.emplace_back(window);
    window->show();
    return window;
}

void DesktopProgram::sendToChosenFriend(const QStringList& paths) {
    const app::result<std::vector<app::friend_summary>> friends = app::list_friends(m_oProgram);
    std::vector<std::string> names;
    for (const app::friend_summary& summary : friends ? *friends : std::vector<app::friend_summary>{}) {
        names.push_back(summary.name);
    }
    std::optional<std::string> chosen;
    if (names.size() == 1) {
        chosen = names.front();
    } else if (!names.empty()) {
        const QuestionsOver over(m_oQuestions, m_pMainWindow.get());
        chosen = m_oQuestions.choose_one("Send " + std::to_string(paths.size()) +
                                             (paths.size() == 1 ? " item to:" : " items to:"),
                                         "Send Files", names);
    } else {
        // Without a friend there is no one to send to; the generic window takes an address by hand.
        (void)openSendWindow(QString());
        return;
    }
    if (!chosen) {
        return;
    }
    sendToFriend(QString::fromStdString(*chosen), paths);
}

void DesktopProgram::sendToFriend(const QString& name, const QStringList& paths) {
    const app::result<std::vector<app::friend_summary>> friends = app::list_friends(m_oProgram);
    const bool known = friends && std::any_of(friends->begin(), friends->end(), [&](const app::friend_summary& one) {
                           return one.name == name.toStdString();
                       });
    if (!known) {
        const QuestionsOver over(m_oQuestions, m_pMainWindow.get());
        (void)m_oQuestions.ask("No friend is named " + name.toStdString() + ". Choose whom to send to.", "Send Files",
                               MB_OK | MB_ICONWARNING);
        sendToChosenFriend(paths);
        return;
    }
    std::vector<std::string> files;
    for (const QString& path : paths) {
        files.push_back(path.toStdString());
    }
    openSendWindow(name)->sendFiles(files);
}

std::size_t DesktopProgram::sendWindowTransfers() const {
    std::size_t running = 0;
    for (const QPointer<SendWindow>& window : m_aSendWindows) {
        running += window ? window->runningCount() : 0;
    }
    return running;
}

} // namespace tiv::ui
