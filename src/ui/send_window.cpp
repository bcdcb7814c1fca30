#include "ui/send_window.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QRegularExpressionValidator>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "app/presence_service.h"
#include "app/send_destination.h"
#include "ui/background_job.h"
#include "ui/dropped_files.h"
#include "ui/message_style.h"
#include "ui/qt_questions.h"
#include "ui/transfers/transfer_table.h"
#include "ui/window_placement.h"

namespace tiv::ui {

namespace {
constexpr const char* send_caption = "Quorvel Sending";

QPushButton* makeButton(const char* objectName, const char* text) {
    auto* button = new QPushButton(QString::fromLatin1(text));
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

// A dotted IPv4 address, an IPv6 one (with the interface of a link-local one: "fe80::1%eth0") or a host name. While
// it is typed, digits may begin a name as well as an address, so the field only keeps out characters none of them
// can hold; the send says why a whole text is refused.
QLineEdit* makeAddressField() {
    auto* field = new QLineEdit(QString::fromLatin1(app::loopback_address));
    field->setObjectName("addressEdit");
    field->setValidator(new QRegularExpressionValidator(QRegularExpression("^[A-Za-z0-9._:%-]{0,254}$"), field));
    return field;
}
} // namespace

SendWindow::SendWindow(app::program& program, app::questions& questions, const QString& presetFriend)
    : m_oProgram(program), m_oQuestions(questions), m_pSession(std::make_unique<app::send_session>(program)),
      m_strDestinationName(QString::fromLatin1(app::manual_destination)), m_bPreset(!presetFriend.isEmpty()),
      m_oRefreshError(questions, "Outgoing update error") {
    setObjectName("sendWindow");
    setWindowTitle(send_caption);
    setMinimumSize(smallest_size);
    setAcceptDrops(true);
    buildControls(presetFriend);
    buildContextMenu();
    // Wide enough for every column of the list; the screen may still ask for less.
    const QMargins margins = layout()->contentsMargins();
    resize(std::max(sizeHint().width(), transferTableWidth(*m_pList) + margins.left() + margins.right()),
           sizeHint().height());
    connect(&m_oRefreshTimer, &QTimer::timeout, this, &SendWindow::refresh);
    m_oRefreshTimer.start(refresh_period_ms);
    move(nextSendWindowPosition());
    destinationChosen(0);
}

// A stop still running holds the session; the window cannot go before it.
SendWindow::~SendWindow() {
    m_oStopping.waitForFinished();
}

void SendWindow::buildControls(const QString& presetFriend) {
    auto* serial = new QCheckBox("Serial Transmission");
    serial->setObjectName("serialTransmissionCheck");
    // Files always go all at once; the box is kept where users know it, without effect.
    serial->setEnabled(false);
    m_pSend = makeButton("sendFilesButton", "Select && Send Files");
    m_pSend->setShortcut(QKeySequence::Open);
    connect(m_pSend, &QPushButton::clicked, this, &SendWindow::selectAndSendFiles);
    m_pSendFolder = makeButton("sendFolderButton", "Select Folder");
    connect(m_pSendFolder, &QPushButton::clicked, this, &SendWindow::selectAndSendFolder);

    m_pDestinations = new QComboBox;
    m_pDestinations->setObjectName("destinationCombo");
    if (m_bPreset) {
        m_pDestinations->addItem(presetFriend);
    } else {
        addDestinationChoices();
    }
    connect(m_pDestinations, &QComboBox::activated, this, &SendWindow::destinationChosen);
    m_pResolve = makeButton("resolveButton", "Resolve");
    connect(m_pResolve, &QPushButton::clicked, this, &SendWindow::resolveCommand);
    m_pPing = makeButton("pingButton", "Ping");
    connect(m_pPing, &QPushButton::clicked, this, &SendWindow::pingCommand);
    m_pAddress = makeAddressField();
    m_pPort = new QSpinBox;
    m_pPort->setObjectName("portSpin");
    m_pPort->setRange(1, 65535);
    m_pPort->setValue(static_cast<int>(app::default_send_port));

    auto* grid = new QGridLayout;
    grid->addWidget(serial, 0, 0);
    grid->addWidget(m_pSend, 0, 1);
    grid->addWidget(m_pSendFolder, 0, 2);
    grid->addWidget(new QLabel("Select Destination"), 1, 0);
    grid->addWidget(m_pDestinations, 2, 0);
    grid->addWidget(m_pResolve, 2, 1);
    grid->addWidget(m_pPing, 2, 2);
    auto* addressLabel = new QLabel("Internet Address");
    addressLabel->setBuddy(m_pAddress);
    auto* portLabel = new QLabel("Internet Port");
    portLabel->setBuddy(m_pPort);
    grid->addWidget(addressLabel, 3, 0);
    grid->addWidget(portLabel, 3, 1, 1, 2);
    grid->addWidget(m_pAddress, 4, 0);
    grid->addWidget(m_pPort, 4, 1, 1, 2);
    grid->setColumnStretch(0, 1);

    m_pList = makeTransferTable(&m_oTransfers, "outgoingList");
    m_pList->setAccessibleName("Files being sent");
    auto* column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addWidget(m_pList, 1);
}

void SendWindow::addDestinationChoices() {
    for (const std::string& choice : app::destination_choices(m_oProgram)) {
        m_pDestinations->addItem(QString::fromStdString(choice));
    }
}

void SendWindow::reloadDestinations() {
    // A fixed destination stays: parcels may already be on their way to it.
    if (m_bPreset || m_bLocked) {
        return;
    }
    const QString current = m_pDestinations->currentText();
    m_pDestinations->clear();
    addDestinationChoices();
    m_pDestinations->setCurrentIndex(std::max(m_pDestinations->findText(current), 0));
    // A lookup under way belongs to the entry still shown; otherwise the record is read again, as it may have
    // changed or gone.
    if (!m_bResolvingDestination) {
        destinationChosen(m_pDestinations->currentIndex());
    }
}

void SendWindow::buildContextMenu() {
    m_oMenu = attachTransferMenu(*m_pList, *this);
    connect(m_oMenu.clearCompleted, &QAction::triggered, this, &SendWindow::clearCompleted);
    connect(m_oMenu.pauseSelected, &QAction::triggered, this, &SendWindow::pauseSelected);
    connect(m_oMenu.resumeSelected, &QAction::triggered, this, &SendWindow::resumeSelected);
    connect(m_oMenu.cancelSelected, &QAction::triggered, this, &SendWindow::cancelSelected);
    m_pRetrySelected = m_oMenu.add("Retry", "retryAction");
    m_pRetrySelected->setEnabled(false);
    connect(m_pRetrySelected, &QAction::triggered, this, &SendWindow::retrySelected);
    connect(m_pList->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SendWindow::enableCancelSelected);
}

void SendWindow::destinationChosen(int index) {
    const std::string entry = m_pDestinations->itemText(index).toStdString();
    m_oDestinationProblem = {};
    m_bFriendChosen = m_bPreset || !app::is_manual_destination(entry);
    if (!m_bFriendChosen) {
        m_strDestinationName = QString::fromLatin1(app::manual_destination);
        if (entry == app::loopback_destination) {
            m_pAddress->setText(QString::fromLatin1(app::loopback_address));
        }
        updateControls();
        return;
    }
    m_strDestinationName = QString::fromStdString(app::destination_friend(m_oProgram, entry));
    const app::result<app::friend_address> stored = app::stored_friend_address(m_oProgram, entry);
    if (!stored) {
        m_oDestinationProblem = stored.error();
        updateControls();
        (void)m_oQuestions.ask("Could not grab the data record for this profile!", "WEIRD ERROR!",
                               MB_OK | MB_ICONERROR);
        return;
    }
    m_pPort->setValue(static_cast<int>(std::clamp<std::uint32_t>(stored->port, 1, 65535)));
    // Sending waits for the lookup, and stays refused if it fails: an unresolved friend is never sent to.
    m_oDestinationProblem =
        app::status(app::status_code::unreachable, "The address of " + entry + " is still being looked up.");
    runJob<app::result<std::string>>(
        &SendWindow::m_bResolvingDestination,
        [host = stored->host, port = stored->port] { return app::resolve_destination(host, port); },
        [this](const app::result<std::string>& address) { destinationResolved(address); });
}

void SendWindow::destinationResolved(const app::result<std::string>& address) {
    if (m_bClosing) {
        return;
    }
    std::vector<std::string> waiting = std::exchange(m_aWaitingFiles, {});
    if (!address) {
        m_oDestinationProblem = app::status(address.error().code(),
                                            "Cannot send to " + m_strDestinationName.toStdString() + ": " +
                                                address.error().text() + (waiting.empty() ? "" : " Nothing was sent."));
        (void)m_oQuestions.ask(m_oDestinationProblem.text(), "WARNING", MB_OK | MB_ICONWARNING);
        return;
    }
    m_oDestinationProblem = {};
    m_pAddress->setText(QString::fromStdString(*address));
    if (m_bPreset) {
        (void)prepareDestination();
    }
    sendFiles(waiting);
}

bool SendWindow::prepareDestination() {
    if (m_bLocked) {
        return true;
    }
    if (!m_oDestinationProblem) {
        (void)m_oQuestions.ask(m_oDestinationProblem.text(), send_caption, MB_OK | MB_ICONWARNING);
        return false;
    }
    const std::string address = m_pAddress->text().toStdString();
    const auto port = static_cast<std::uint32_t>(m_pPort->value());
    const app::status set = m_bFriendChosen
                                ? m_pSession->set_destination(m_strDestinationName.toStdString(), address, port)
                                : m_pSession->set_manual_destination(address, port);
    if (!set) {
        (void)m_oQuestions.ask("Cannot send to " + m_strDestinationName.toStdString() + ": " + set.text(), send_caption,
                               MB_OK | MB_ICONWARNING);
        return false;
    }
    m_bLocked = true;
    setWindowTitle("Sending to " + m_strDestinationName);
    updateControls();
    return true;
}

void SendWindow::sendFiles(const std::vector<std::string>& paths) {
    if (paths.empty() || m_bClosing) {
        return;
    }
    // Files handed over while the friend's address is looked up go once it is known.
    if (m_bResolvingDestination && !m_bLocked) {
        m_aWaitingFiles.insert(m_aWaitingFiles.end(), paths.begin(), paths.end());
        return;
    }
    if (!prepareDestination()) {
        return;
    }
    std::vector<std::string> files;
    std::vector<std::string> skipped;
    for (const std::string& path : paths) {
        if (!app::is_folder(path)) {
            files.push_back(path);
            continue;
        }
        // Each folder is a send of its own: it arrives as a folder of its own.
        const app::result<app::send_session::folder_send> started = m_pSession->send_folder(path);
        if (!started) {
            (void)m_oQuestions.ask("The folder " + path + " was not sent: " + started.error().text(), send_caption,
                                   MB_OK | MB_ICONWARNING);
            continue;
        }
        for (const std::string& entry : started->skipped) {
            skipped.push_back(started->name + "/" + entry);
        }
        m_aSends.push_back(started->ids);
    }
    if (!files.empty()) {
        const app::result<std::vector<std::uint64_t>> started = m_pSession->send(files);
        if (!started) {
            (void)m_oQuestions.ask("Nothing was sent: " + started.error().text(), send_caption, MB_OK | MB_ICONWARNING);
        }
        for (std::size_t i = 0; started && i < started->size(); ++i) {
            m_aSources[(*started)[i]] = files[i];
        }
        if (started) {
            m_aSends.push_back(*started);
        }
    }
    refresh();
    if (!skipped.empty()) {
        constexpr std::size_t listed = 10;
        std::string text = "These were left out of the folder:";
        for (std::size_t i = 0; i < std::min(listed, skipped.size()); ++i) {
            text += "\n" + skipped[i];
        }
        if (skipped.size() > listed) {
            text += "\nand " + std::to_string(skipped.size() - listed) + " more.";
        }
        (void)m_oQuestions.ask(text, send_caption, MB_OK | MB_ICONINFORMATION);
    }
}

void SendWindow::selectAndSendFiles() {
    sendFiles(m_oQuestions.choose_open_files(app::send_files_chooser()));
}

void SendWindow::selectAndSendFolder() {
    if (const std::optional<std::string> folder = m_oQuestions.choose_folder(app::send_folder_title)) {
        sendFiles({*folder});
    }
}

void SendWindow::resolveCommand() {
    runJob<app::result<app::reverse_name>>(
        &SendWindow::m_bResolving,
        [address = m_pAddress->text().toStdString(), port = static_cast<std::uint32_t>(m_pPort->value())] {
            return app::reverse_lookup(address, port);
        },
        [this](const app::result<app::reverse_name>& found) {
            if (found) {
                (void)m_oQuestions.ask("Resolved:  " + found->address + "  [" + found->host_name + "]",
                                       "Resolution Test", MB_OK | MB_ICONINFORMATION);
            } else {
                (void)m_oQuestions.ask("Could not resolve chosen address.\nContining on...", "WARNING",
                                       MB_OK | MB_ICONWARNING);
            }
        });
}

void SendWindow::pingCommand() {
    runJob<app::ping_reply>(
        &SendWindow::m_bPinging, [address = m_pAddress->text().toStdString()] { return app::ping_address(address); },
        [this](const app::ping_reply& reply) {
            std::string text =
                reply.outcome ? "Ping succeeded! Round trip of " + std::to_string(reply.round_trip) + " milliseconds."
                              : reply.outcome.text();
            if (reply.no_socket) {
                text += "\nNo ICMP socket could be opened (" + std::string(std::strerror(reply.socket_error)) +
                        "); the program needs CAP_NET_RAW or a ping group that includes the user.";
            }
            (void)m_oQuestions.ask(text, "Ping Test", MB_OK);
        });
}

template <typename Result>
void SendWindow::runJob(bool SendWindow::*running, std::function<Result()> job,
                        std::function<void(const Result&)> done) {
    this->*running = true;
    updateControls();
    runInBackground<Result>(this, std::move(job), [this, running, done = std::move(done)](const Result& result) {
        this->*running = false;
        updateControls();
        done(result);
    });
}

bool SendWindow::busy() const {
    return m_bResolvingDestination || m_bResolving || m_bPinging || (m_bClosing && !m_bStopped);
}

void SendWindow::updateControls() {
    const bool choosing = !m_bLocked && !m_bClosing && !m_bResolvingDestination;
    m_pDestinations->setEnabled(choosing && !m_bPreset);
    m_pAddress->setEnabled(choosing && !m_bFriendChosen);
    m_pPort->setEnabled(choosing && !m_bFriendChosen);
    m_pSend->setEnabled(!m_bClosing && !m_bResolvingDestination);
    m_pSendFolder->setEnabled(m_pSend->isEnabled());
    m_pResolve->setEnabled(!m_bClosing && !m_bResolving);
    m_pPing->setEnabled(!m_bClosing && !m_bPinging);
    if (busy()) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
    enableCancelSelected();
}

void SendWindow::refresh() {
    if (m_oRefreshError.showing()) {
        return;
    }
    try {
        refreshKeepingNewestInView(*m_pList, [this] { m_oTransfers.refresh(m_pSession->snapshots()); });
        // A selected row may have ended since.
        enableCancelSelected();
        announceEndedSends();
    } catch (const std::exception& error) {
        m_oRefreshError.report(error.what());
    }
}

void SendWindow::announceEndedSends() {
    std::erase_if(m_aSends, [this](const std::vector<std::uint64_t>& ids) {
        const std::vector<app::transfer_view> rows = m_pSession->snapshots(ids);
        const bool ended =
            std::all_of(rows.begin(), rows.end(), [](const app::transfer_view& row) { return row.finished; });
        if (ended) {
            emit sendEnded(rows);
        }
        return ended;
    });
}

void SendWindow::clearCompleted() {
    m_pSession->clear_completed();
    refresh();
}

void SendWindow::cancelSelected() {
    // Each stop only asks its transfer to end, so the window thread never waits on one.
    for (const std::uint64_t id : cancellableSelection(*m_pList, m_oTransfers)) {
        // One that ended meanwhile is simply not found.
        (void)m_pSession->stop_transfer(id);
    }
    refresh();
}

void SendWindow::pauseSelected() {
    for (const std::uint64_t id : cancellableSelection(*m_pList, m_oTransfers)) {
        if (!m_aSources.contains(id) || !m_pSession->pause_transfer(id)) {
            continue;
        }
        m_oTransfers.markPaused(id);
        // The files after it on its connection stop with it; those that end unsent are paused too.
        for (const std::vector<std::uint64_t>& send : m_aSends) {
            if (std::find(send.begin(), send.end(), id) != send.end()) {
                for (const std::uint64_t other : send) {
                    m_oTransfers.markPaused(other);
                }
            }
        }
    }
    refresh();
}

void SendWindow::resumeSelected() {
    std::vector<std::string> files;
    for (const int row : selectedRows(*m_pList)) {
        if (m_oTransfers.pausedAt(row)) {
            const std::uint64_t id = m_oTransfers.transferAt(row).id;
            m_oTransfers.markResumed(id);
            files.push_back(m_aSources.at(id));
        }
    }
    sendFiles(files);
}

void SendWindow::enableCancelSelected() {
    const std::vector<std::uint64_t> running = cancellableSelection(*m_pList, m_oTransfers);
    m_oMenu.cancelSelected->setEnabled(!m_bClosing && !running.empty());
    // A file of a folder goes on only with its folder, so only a plain send's file pauses.
    m_oMenu.pauseSelected->setEnabled(
        !m_bClosing &&
        std::any_of(running.begin(), running.end(), [this](std::uint64_t id) { return m_aSources.contains(id); }));
    const std::vector<int> rows = selectedRows(*m_pList);
    m_oMenu.resumeSelected->setEnabled(
        !m_bClosing && std::any_of(rows.begin(), rows.end(), [this](int row) { return m_oTransfers.pausedAt(row); }));
    m_pRetrySelected->setEnabled(!m_bClosing && !retryableSelection().empty());
}

std::vector<std::string> SendWindow::retryableSelection() const {
    std::vector<std::string> files;
    for (const int row : selectedRows(*m_pList)) {
        const app::transfer_view& transfer = m_oTransfers.transferAt(row);
        const auto source = m_aSources.find(transfer.id);
        // A file of a folder goes again with its folder, never alone into the friend's box.
        if (transfer.finished && (transfer.failed || transfer.state != app::transfer_state::completed) &&
            source != m_aSources.end() && !m_oTransfers.pausedAt(row)) {
            files.push_back(source->second);
        }
    }
    return files;
}

void SendWindow::retrySelected() {
    // A file whose transfer broke goes on from what the receiver kept of it.
    sendFiles(retryableSelection());
}

void SendWindow::closeEvent(QCloseEvent* event) {
    const std::size_t running = m_pSession->running_count();
    if (m_bStopped || (!m_bClosing && running == 0)) {
        m_oRefreshTimer.stop();
        event->accept();
        return;
    }
    event->ignore();
    if (m_bClosing) {
        return;
    }
    const std::string question = running == 1 ? std::string("Stop the transfer of this window?")
                                              : "Stop the " + std::to_string(running) + " transfers of this window?";
    const QuestionsOver overThisWindow(m_oQuestions, this);
    if (m_oQuestions.ask(question, "WARNING: ACTIVE CONNECTIONS", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return;
    }
    stopThenClose();
}

void SendWindow::stopAndClose() {
    if (!m_bClosing) {
        stopThenClose();
    }
}

void SendWindow::keyPressEvent(QKeyEvent* event) {
    // Here rather than in a shortcut, so an open popup (the destinations' list) gets Escape first and closes alone.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SendWindow::stopThenClose() {
    // Stopping waits for every transfer to let go of its connection and file, which can take seconds.
    m_bClosing = true;
    updateControls();
    m_pSession->clear_completed();
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_bStopped = true;
        updateControls();
        refresh();
        close();
    });
    m_oStopping = QtConcurrent::run([session = m_pSession.get()] { session->stop_all(); });
    watcher->setFuture(m_oStopping);
}

void SendWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedLocalPaths(*event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void SendWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = droppedLocalPaths(*event->mimeData());
    if (paths.empty()) {
        return;
    }
    event->acceptProposedAction();
    // After the drop has ended: a question about the files must not open while the file manager still drags.
    QMetaObject::invokeMethod(
        this, [this, paths] { sendFiles(paths); }, Qt::QueuedConnection);
}

} // namespace tiv::ui
