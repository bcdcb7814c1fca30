#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "app/identity.h"
#include "app/receive_service.h"
#include "ui/dropped_files.h"
#include "ui/message_style.h"
#include "ui/transfers/transfer_table.h"

namespace tiv::ui {

namespace {
const char* const resume_words = "A parcel paused here goes on from what arrived when its sender resumes it.";

QPushButton* addButton(QHBoxLayout* row, const char* objectName, const char* text, bool enabled) {
    auto* button = new QPushButton(QString::fromLatin1(text));
    button->setObjectName(objectName);
    button->setEnabled(enabled);
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

} // namespace

MainWindow::MainWindow(app::program& program, app::questions& questions, QWidget* parent)
    : QMainWindow(parent), m_oProgram(program), m_oQuestions(questions),
      m_oRefreshError(questions, "Incoming update error") {
    setObjectName("mainWindow");
    setAcceptDrops(true);
    buildMenus();
    setCentralWidget(buildCentre());
    // Never so small that the buttons under the list cut their captions.
    setMinimumSize(smallest_size.expandedTo(minimumSizeHint()));
    connect(&m_oRefreshTimer, &QTimer::timeout, this, &MainWindow::refresh);
    m_oRefreshTimer.start(refresh_period_ms);
    refresh();
}

QWidget* MainWindow::buildCentre() {
    auto* centre = new QWidget;
    auto* column = new QVBoxLayout(centre);
    column->addWidget(new QLabel("Quorvel Deliveries"));

    m_pList = makeTransferTable(&m_oTransfers, "incomingList");
    m_pList->setAccessibleName("Parcels arriving");
    connect(m_pList, &QTableView::doubleClicked, this, [this] { launchSelected(&FileLauncher::open); });
    m_pHistory = new HistoryPanel(m_oProgram, m_oQuestions);
    m_pTabs = new QTabWidget;
    m_pTabs->setObjectName("mainTabs");
    m_pTabs->addTab(m_pList, "Arriving");
    m_pTabs->addTab(m_pHistory, "History");
    column->addWidget(m_pTabs, 1);
    // A new user's first question is what to do: the list says it until the first parcel comes.
    m_pEmptyHint = new QLabel("No parcels yet. Give your friends your profile (Tools > Export User Profile) and "
                              "import theirs.");
    m_pEmptyHint->setObjectName("emptyListHint");
    m_pEmptyHint->setWordWrap(true);
    column->addWidget(m_pEmptyHint);

    m_pListenStatus = new QLabel;
    m_pListenStatus->setObjectName("listenStatusLabel");
    m_pListenStatus->setWordWrap(true);
    m_pListenStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_pListenStatus);
    m_pStrangerStatus = new QLabel;
    m_pStrangerStatus->setObjectName("strangerStatusLabel");
    m_pStrangerStatus->setWordWrap(true);
    m_pStrangerStatus->hide();
    column->addWidget(m_pStrangerStatus);

    // The log file is opened once, at start: what kept it closed stays true for the window's life.
    if (const app::status& log = m_oProgram.log_status(); !log) {
        auto* logStatus = new QLabel("No log file: " + QString::fromStdString(log.text()));
        logStatus->setObjectName("logFileStatusLabel");
        logStatus->setWordWrap(true);
        logStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
        column->addWidget(logStatus);
    }

    auto* buttons = new QHBoxLayout;
    QPushButton* send = addButton(buttons, "sendFilesButton", "Send Files...", true);
    connect(send, &QPushButton::clicked, this, [this] { emit newConnectionRequested(QString()); });
    QPushButton* clear = addButton(buttons, "clearCompletedButton", "Clear Completed", true);
    connect(clear, &QPushButton::clicked, this, &MainWindow::clearCompleted);
    QPushButton* cancel = addButton(buttons, "cancelButton", "Cancel", false);
    connect(cancel, &QPushButton::clicked, this, &MainWindow::cancelSelected);
    QPushButton* pause = addButton(buttons, "pauseButton", "Pause", false);
    connect(pause, &QPushButton::clicked, this, &MainWindow::pauseSelected);
    // Only the sender can send a file again: a parcel paused here goes on when its sender resumes or retries it.
    QPushButton* resume = addButton(buttons, "resumeButton", "Resume", false);
    resume->setToolTip(resume_words);
    buttons->addStretch(1);
    column->addLayout(buttons);
    buildContextMenu();
    // The buttons are the menu's commands again, offered when the menu offers them.
    connect(m_oMenu.cancelSelected, &QAction::enabledChanged, cancel, &QWidget::setEnabled);
    connect(m_oMenu.pauseSelected, &QAction::enabledChanged, pause, &QWidget::setEnabled);
    connect(m_pList->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MainWindow::enableCancelCommands);
    return centre;
}

void MainWindow::buildContextMenu() {
    m_oMenu = attachTransferMenu(*m_pList, *this);
    connect(m_oMenu.clearCompleted, &QAction::triggered, this, &MainWindow::clearCompleted);
    connect(m_oMenu.pauseSelected, &QAction::triggered, this, &MainWindow::pauseSelected);
    m_oMenu.resumeSelected->setToolTip(resume_words);
    connect(m_oMenu.cancelSelected, &QAction::triggered, this, &MainWindow::cancelSelected);
    m_pOpenSelected = m_oMenu.add("Open", "openFileAction");
    connect(m_pOpenSelected, &QAction::triggered, this, [this] { launchSelected(&FileLauncher::open); });
    m_pShowSelected = m_oMenu.add("Show in Folder", "showInFolderAction");
    connect(m_pShowSelected, &QAction::triggered, this, [this] { launchSelected(&FileLauncher::showInFolder); });
}

void MainWindow::refresh() {
    if (m_oRefreshError.showing()) {
        return;
    }
    try {
        // A new parcel box root waits for the transfers that were running when it was chosen.
        (void)m_oProgram.apply_pending_restart();
        refreshKeepingNewestInView(
            *m_pList, [this] { m_oTransfers.refresh(m_oStrangers.friendsOnly(m_oProgram.incoming().snapshots())); });
        m_pEmptyHint->setVisible(m_oTransfers.rowCount() == 0);
        const QString strangers = QString::fromStdString(m_oStrangers.refusedText());
        m_pStrangerStatus->setText(strangers);
        m_pStrangerStatus->setVisible(!strangers.isEmpty());
        // A selected row may have ended since.
        enableCancelCommands();
        showListenStatus();
        if (m_pHistory->isVisible()) {
            m_pHistory->refresh();
        }
    } catch (const std::exception& error) {
        m_oRefreshError.report(error.what());
    }
}

void MainWindow::showListenStatus() {
    const app::status& why = m_oProgram.listen_status();
    const bool listening = why.ok() && m_oProgram.incoming().listening();
    const QString text = listening ? "Listening on " + QString::fromStdString(m_oProgram.incoming().bound_address())
                                   : "Not listening: " + QString::fromStdString(why.ok() ? "stopped." : why.text());
    if (m_pListenStatus->text() != text) {
        m_pListenStatus->setText(text);
    }
    // Friends reach this program at the listening address; without one, the caption names whose program it is.
    const QString caption =
        "Quorvel Receiving - " +
        QString::fromStdString(listening ? m_oProgram.incoming().bound_address() : app::user_name(m_oProgram));
    if (windowTitle() != caption) {
        setWindowTitle(caption);
    }
}

void MainWindow::enableCancelCommands() {
    const bool cancellable = !cancellableSelection(*m_pList, m_oTransfers).empty();
    m_oMenu.cancelSelected->setEnabled(cancellable);
    m_oMenu.pauseSelected->setEnabled(cancellable);
    const bool stored = !selectedStoredPath().isEmpty();
    m_pOpenSelected->setEnabled(stored);
    m_pShowSelected->setEnabled(stored);
}

void MainWindow::setLauncher(FileLauncher& launcher) {
    m_pLauncher = &launcher;
    m_pHistory->setLauncher(launcher);
}

QString MainWindow::selectedStoredPath() const {
    const QModelIndexList selected = m_pList->selectionModel()->selectedRows();
    return selected.size() == 1 ? QString::fromStdString(m_oTransfers.transferAt(selected.front().row()).stored_path)
                                : QString();
}

void MainWindow::launchSelected(bool (FileLauncher::*how)(const QString&)) {
    const QString path = selectedStoredPath();
    if (!path.isEmpty() && !(m_pLauncher->*how)(path)) {
        (void)m_oQuestions.ask("No program could open " + path.toStdString() + ".", "Quorvel", MB_OK | MB_ICONERROR);
    }
}

void MainWindow::clearCompleted() {
    (void)m_oProgram.incoming().clear_completed();
    m_oStrangers.reset();
    refresh();
}

void MainWindow::pauseSelected() {
    for (const std::uint64_t id : cancellableSelection(*m_pList, m_oTransfers)) {
        if (m_oProgram.incoming().pause_transfer(id)) {
            m_oTransfers.markPaused(id);
        }
    }
    refresh();
}

void MainWindow::cancelSelected() {
    for (const std::uint64_t id : cancellableSelection(*m_pList, m_oTransfers)) {
        // One that ended meanwhile is simply not found.
        (void)m_oProgram.incoming().stop_transfer(id);
    }
    refresh();
}

void MainWindow::exitCommand() {
    if (m_oQuestions.ask("Really quit?", "Quorvel", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return;
    }
    close();
}

bool MainWindow::endProgram() {
    const std::size_t running = m_oProgram.incoming().running_count() + (m_oOtherTransfers ? m_oOtherTransfers() : 0);
    if (running > 0 && m_oQuestions.ask("There are still active connections. Do you really want to quit?",
                                        "WARNING: ACTIVE CONNECTIONS", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return false;
    }
    m_oRefreshTimer.stop();
    m_oProgram.shutdown();
    m_bEnded = true;
    emit programEnded();
    return true;
}

// Escape asks as the close box does. Handled here rather than by a shortcut, so an open popup (a menu, a combo
// box's list) gets the key first and closes alone.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_bEnded || endProgram()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedLocalPaths(*event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const std::string& path : droppedLocalPaths(*event->mimeData())) {
        paths << QString::fromStdString(path);
    }
    if (paths.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // After the drop has ended: choosing a friend must not start while the file manager still drags.
    QMetaObject::invokeMethod(
        this, [this, paths] { emit filesDropped(paths); }, Qt::QueuedConnection);
}

} // namespace tiv::ui
