#include "ui/friend_list_window.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QPointer>
#include <QShortcut>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <utility>

#include "app/friends/profile_service.h"
#include "app/lan_friends.h"
#include "ui/dropped_files.h"
#include "ui/instant_message_window.h"

namespace tiv::ui {

namespace {
enum Column { NameColumn, AddressColumn, PingColumn, LoginColumn };
// "Login Status" holds a sentence ("online (program answered in 84 ms)"), not a word like the ping's.
constexpr std::array<int, 4> column_widths{120, 120, 80, 180};
constexpr int all_column_widths = 120 + 120 + 80 + 180;
} // namespace

FriendListWindow::FriendListWindow(app::program& program, app::friend_ping_run pinger, QWidget* parent)
    : QDialog(parent), m_oProgram(program), m_oPinger(std::move(pinger)) {
    setWindowTitle("Friend List");
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setMinimumSize(smallest_size);
    m_pRefresh = new QPushButton("Refresh All", this);
    m_pRefresh->setObjectName("refreshAllButton");
    m_pRefresh->setAutoDefault(false);
    connect(m_pRefresh, &QPushButton::clicked, this, &FriendListWindow::refreshAll);
    connect(new QShortcut(QKeySequence::Refresh, this), &QShortcut::activated, this, &FriendListWindow::refreshAll);
    m_pList = new QTreeWidget(this);
    m_pList->setObjectName("friendsList");
    m_pList->setAccessibleName("Friends");
    m_pList->setColumnCount(4);
    m_pList->setHeaderLabels({"Friend Name", "Internet Address", "Ping Status", "Login Status"});
    m_pList->setRootIsDecorated(false);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setSortingEnabled(false);
    m_pList->header()->setSectionsClickable(false);
    // fitColumns gives the last column its share; stretching it too would take every added pixel for it alone.
    m_pList->header()->setStretchLastSection(false);
    m_pList->viewport()->installEventFilter(this);
    // The list takes drops only to hand them to takeDrag, which sees them first on the viewport.
    m_pList->setAcceptDrops(true);
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, &FriendListWindow::sendFilesToSelected);
    for (int column = 0; column < static_cast<int>(column_widths.size()); ++column) {
        m_pList->setColumnWidth(column, column_widths[column]);
    }
    // The first widths are the narrowest that keep every title readable.
    connect(m_pList->header(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (column < static_cast<int>(column_widths.size()) && width < column_widths[column]) {
            m_pList->setColumnWidth(column, column_widths[column]);
        }
    });
    m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_pList, &QWidget::customContextMenuRequested, this, &FriendListWindow::showContextMenu);
    m_pProblem = new QLabel(this);
    m_pProblem->setObjectName("pingProblemLabel");
    m_pProblem->setWordWrap(true);
    m_pProblem->hide();

    m_pContextMenu = new QMenu(this);
    QAction* send = m_pContextMenu->addAction("&Send Files...", this, &FriendListWindow::sendFilesToSelected);
    send->setObjectName("sendFilesAction");
    m_pPingItem = m_pContextMenu->addAction("&Ping", this, &FriendListWindow::pingSelected);
    m_pPingItem->setObjectName("pingAction");
    QAction* check = m_pContextMenu->addAction("&Check Login", this, &FriendListWindow::checkLoginSelected);
    check->setObjectName("checkLoginAction");
    QAction* message = m_pContextMenu->addAction("&Instant Message", this, &FriendListWindow::openInstantMessage);
    message->setObjectName("instantMessageAction");
    m_aRowItems = {send, m_pPingItem, check, message};

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pRefresh, 0, Qt::AlignLeft);
    layout->addWidget(m_pList, 1);
    layout->addWidget(m_pProblem);

    m_oStatusTimer.setInterval(status_period_ms);
    connect(&m_oStatusTimer, &QTimer::timeout, this, &FriendListWindow::showStates);
    loadFriends();
    refreshAll();
}

FriendListWindow::~FriendListWindow() {
    m_pStop->store(true);
}

void FriendListWindow::loadFriends() {
    // A friend still at the same address keeps what the last ping found.
    const std::vector<FriendRow> previous = std::exchange(m_aRows, {});
    m_pList->clear();
    auto friends = app::list_friends(m_oProgram);
    if (!friends) {
        m_pProblem->setText(QString::fromStdString(friends.error().text()));
        m_pProblem->show();
        return;
    }
    for (const app::friend_summary& one : friends.value()) {
        FriendRow row;
        row.name = QString::fromStdString(one.name);
        row.address = QString::fromStdString(one.address);
        for (const FriendRow& before : previous) {
            if (before.name == row.name && before.address == row.address) {
                row.state = before.state;
                row.login = before.login;
                row.checking = before.checking;
            }
        }
        auto* item = new QTreeWidgetItem(m_pList);
        item->setText(NameColumn, row.name);
        item->setText(AddressColumn, row.address);
        item->setToolTip(AddressColumn, QString::fromStdString(one.address_change));
        item->setText(PingColumn, app::friend_ping_text(row.state));
        m_aRows.push_back(row);
    }
    showLanPresence();
    updateCommands();
}

void FriendListWindow::showLanPresence() {
    const std::vector<app::lan_friend> on_lan = app::friends_on_lan(m_oProgram);
    for (std::size_t i = 0; i < m_aRows.size(); ++i) {
        const std::string name = m_aRows[i].name.toStdString();
        const auto found = std::find_if(on_lan.begin(), on_lan.end(), [&](const auto& f) { return f.name == name; });
        const QString lan = found != on_lan.end() ? QString::fromStdString(app::lan_words(*found)) : QString();
        // What the friend's program said outranks where the LAN says it is.
        QTreeWidgetItem* item = m_pList->topLevelItem(static_cast<int>(i));
        item->setText(LoginColumn, !m_aRows[i].login.isEmpty() ? m_aRows[i].login : lan.isEmpty() ? "unknown" : lan);
        item->setToolTip(LoginColumn, lan);
    }
}

void FriendListWindow::reloadFriends() {
    if (m_bPinging) {
        m_bReloadWhenDone = true;
        return;
    }
    loadFriends();
}

void FriendListWindow::refreshAll() {
    if (m_bPinging || m_aRows.empty()) {
        return;
    }
    showLanPresence();
    std::vector<std::size_t> rows(m_aRows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = i;
    }
    startLoginChecks(rows);
    startPing(std::move(rows));
}

void FriendListWindow::checkLoginSelected() {
    const QModelIndex selected = m_pList->currentIndex();
    if (selected.isValid() && !m_pList->selectedItems().isEmpty()) {
        startLoginChecks({static_cast<std::size_t>(selected.row())});
    }
}

void FriendListWindow::startLoginChecks(const std::vector<std::size_t>& rows) {
    std::vector<std::string> names;
    for (const std::size_t row : rows) {
        if (!m_aRows[row].checking) {
            m_aRows[row].checking = true;
            m_aRows[row].login = "checking...";
            names.push_back(m_aRows[row].name.toStdString());
        }
    }
    if (names.empty()) {
        return;
    }
    showLanPresence();
    const QPointer<FriendListWindow> window(this);
    // The program outlives every job of the pool (main waits for them); the window may not, hence the pointer.
    QThreadPool::globalInstance()->start([window, &program = m_oProgram, names = std::move(names)] {
        app::check_logins(program, names, [&](std::size_t index, const app::friend_reply& reply) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [window, name = QString::fromStdString(names[index]), reply] {
                    if (window) {
                        window->takeLogin(name, reply);
                    }
                },
                Qt::QueuedConnection);
        });
    });
}

void FriendListWindow::takeLogin(const QString& name, const app::friend_reply& reply) {
    for (FriendRow& row : m_aRows) {
        if (row.name == name) {
            row.checking = false;
            row.login = QString::fromStdString(reply.words);
        }
    }
    showLanPresence();
}

void FriendListWindow::pingSelected() {
    const QModelIndex selected = m_pList->currentIndex();
    if (m_bPinging || !selected.isValid() || m_pList->selectedItems().isEmpty()) {
        return;
    }
    startPing({static_cast<std::size_t>(selected.row())});
}

void FriendListWindow::startPing(std::vector<std::size_t> rows) {
    std::vector<std::string> addresses;
    for (const std::size_t row : rows) {
        addresses.push_back(m_aRows[row].address.toStdString());
        m_aRows[row].state = app::friend_ping_state::pending;
    }
    m_aPingedRows = std::move(rows);
    m_bPinging = true;
    updateCommands();
    // The report is checked on the window thread, so a window deleted meanwhile is never touched.
    const QPointer<FriendListWindow> window(this);
    app::ping_progress_sink report = [window](const app::friend_ping_progress& progress) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [window, progress] {
                if (window) {
                    window->takeProgress(progress);
                }
            },
            Qt::QueuedConnection);
    };
    // The global pool waits for its tasks when the application ends, so no run outlives the program.
    QThreadPool::globalInstance()->start([run = m_oPinger, addresses = std::move(addresses), report = std::move(report),
                                          stop = m_pStop] { run(addresses, report, *stop); });
    showStates();
}

void FriendListWindow::takeProgress(const app::friend_ping_progress& progress) {
    if (!m_bPinging) {
        return;
    }
    for (std::size_t i = 0; i < progress.states.size() && i < m_aPingedRows.size(); ++i) {
        m_aRows[m_aPingedRows[i]].state = progress.states[i];
    }
    m_pProblem->setText(QString::fromStdString(progress.problem));
    m_pProblem->setVisible(!progress.problem.empty());
    if (!progress.done) {
        return;
    }
    m_bPinging = false;
    m_aPingedRows.clear();
    if (m_bReloadWhenDone) {
        m_bReloadWhenDone = false;
        loadFriends();
    }
    updateCommands();
}

void FriendListWindow::showStates() {
    for (std::size_t i = 0; i < m_aRows.size(); ++i) {
        m_pList->topLevelItem(static_cast<int>(i))->setText(PingColumn, app::friend_ping_text(m_aRows[i].state));
    }
}

void FriendListWindow::updateCommands() {
    m_pRefresh->setEnabled(!m_bPinging);
    for (QAction* item : m_aRowItems) {
        item->setEnabled(m_bMenuOverRow);
    }
    m_pPingItem->setEnabled(!m_bPinging && m_bMenuOverRow);
}

// Over the empty part of the list the menu opens too, so it is found wherever one clicks, but what needs a friend
// is grey there.
void FriendListWindow::showContextMenu(const QPoint& at) {
    m_bMenuOverRow = m_pList->itemAt(at) != nullptr;
    updateCommands();
    m_pContextMenu->popup(m_pList->viewport()->mapToGlobal(at));
}

void FriendListWindow::fitColumns() {
    const int width = std::max(m_pList->viewport()->width(), all_column_widths);
    int given = 0;
    for (int column = 0; column < static_cast<int>(column_widths.size()) - 1; ++column) {
        const int share = width * column_widths[column] / all_column_widths;
        m_pList->setColumnWidth(column, share);
        given += share;
    }
    m_pList->setColumnWidth(static_cast<int>(column_widths.size()) - 1, width - given);
}

bool FriendListWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_pList->viewport()) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::Resize) {
        fitColumns();
    }
    return takeDrag(event) || QDialog::eventFilter(watched, event);
}

bool FriendListWindow::takeDrag(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return false;
    }
    auto* drag = static_cast<QDropEvent*>(event);
    const std::vector<std::string> paths = droppedLocalPaths(*drag->mimeData());
    QTreeWidgetItem* row = m_pList->itemAt(drag->position().toPoint());
    // Files are welcome anywhere on the list, or no move over it would be heard of; only a drop on a friend's row
    // has someone to go to, so elsewhere the pointer says no.
    if (paths.empty() || (type != QEvent::DragEnter && row == nullptr)) {
        drag->ignore();
        return true;
    }
    drag->acceptProposedAction();
    if (type == QEvent::Drop) {
        QStringList files;
        for (const std::string& path : paths) {
            files << QString::fromStdString(path);
        }
        // After the drop has ended, so the file manager is not held while the send window opens.
        QMetaObject::invokeMethod(
            this, [this, name = row->text(NameColumn), files] { emit sendFilesRequested(name, files); },
            Qt::QueuedConnection);
    }
    return true;
}

void FriendListWindow::sendFilesToSelected() {
    const QList<QTreeWidgetItem*> selected = m_pList->selectedItems();
    if (!selected.isEmpty()) {
        emit sendFilesRequested(selected.first()->text(NameColumn), {});
    }
}

void FriendListWindow::openInstantMessage() {
    const QList<QTreeWidgetItem*> selected = m_pList->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    auto* messages = new InstantMessageWindow(m_oProgram, selected.first()->text(NameColumn), this);
    messages->setAttribute(Qt::WA_DeleteOnClose);
    messages->show();
}

// The timer runs exactly while the window is shown, so a window shown again catches up with a run that went on
// while it was hidden.
void FriendListWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    showStates();
    m_oStatusTimer.start();
}

void FriendListWindow::hideEvent(QHideEvent* event) {
    m_oStatusTimer.stop();
    QDialog::hideEvent(event);
}

} // namespace tiv::ui
