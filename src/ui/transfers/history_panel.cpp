#include "ui/transfers/history_panel.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "app/history.h"

namespace tiv::ui {

HistoryPanel::HistoryPanel(app::program& program, app::questions& questions, QWidget* parent)
    : QWidget(parent), m_oProgram(program), m_oQuestions(questions) {
    setObjectName("historyPanel");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_pList = new QTableView;
    m_pList->setObjectName("historyList");
    m_pList->setAccessibleName("Parcel history");
    m_pList->setModel(&m_oRows);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->verticalHeader()->hide();
    m_pList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pList->horizontalHeader()->setStretchLastSection(true);
    m_pList->setTextElideMode(Qt::ElideMiddle);
    m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(m_pList, 1);

    auto* buttons = new QHBoxLayout;
    auto* clear = new QPushButton("Clear History");
    clear->setObjectName("clearHistoryButton");
    clear->setAutoDefault(false);
    buttons->addWidget(clear);
    buttons->addStretch(1);
    column->addLayout(buttons);
    connect(clear, &QPushButton::clicked, this, &HistoryPanel::clearHistory);

    m_pMenu = new QMenu(this);
    m_pMenu->setObjectName("historyMenu");
    m_pOpen = m_pMenu->addAction("Open");
    m_pOpen->setObjectName("historyOpenAction");
    m_pShow = m_pMenu->addAction("Show in Folder");
    m_pShow->setObjectName("historyShowInFolderAction");
    connect(m_pOpen, &QAction::triggered, this, &HistoryPanel::openSelected);
    connect(m_pShow, &QAction::triggered, this, &HistoryPanel::showSelectedInFolder);
    connect(m_pList, &QTableView::customContextMenuRequested, this, &HistoryPanel::showMenu);
    connect(m_pList, &QTableView::doubleClicked, this, [this] { openSelected(); });
}

void HistoryPanel::refresh() {
    if (m_oGenerationRead != app::history_generation(m_oProgram)) {
        reload();
    }
}

void HistoryPanel::reload() {
    m_oGenerationRead = app::history_generation(m_oProgram);
    m_oRows.reset(app::read_history(m_oProgram));
    // Reading may have dropped rows past their days, which moves the generation on: that reading is this one.
    m_oGenerationRead = app::history_generation(m_oProgram);
    m_pList->resizeColumnsToContents();
}

void HistoryPanel::clearHistory() {
    if (const app::status cleared = app::clear_history(m_oProgram); !cleared) {
        (void)m_oQuestions.ask(cleared.text(), "Clear History", app::MB_OK | app::MB_ICONERROR);
    }
    reload();
}

std::optional<QString> HistoryPanel::selectedStoredFile() const {
    const QModelIndexList selected = m_pList->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    const app::transfer_view& row = m_oRows.rowAt(selected.front().row());
    if (row.stored_path.empty()) {
        return std::nullopt;
    }
    return QString::fromStdString(row.stored_path);
}

void HistoryPanel::launch(bool (FileLauncher::*how)(const QString&), const QString& path) {
    if (!QFileInfo::exists(path)) {
        (void)m_oQuestions.ask(path.toStdString() + " is no longer there: it was moved or deleted since it arrived.",
                               "Parcel History", app::MB_OK | app::MB_ICONWARNING);
        return;
    }
    if (!(m_pLauncher->*how)(path)) {
        (void)m_oQuestions.ask("No program could open " + path.toStdString() + ".", "Parcel History",
                               app::MB_OK | app::MB_ICONERROR);
    }
}

void HistoryPanel::openSelected() {
    if (const std::optional<QString> path = selectedStoredFile()) {
        launch(&FileLauncher::open, *path);
    }
}

void HistoryPanel::showSelectedInFolder() {
    if (const std::optional<QString> path = selectedStoredFile()) {
        launch(&FileLauncher::showInFolder, *path);
    }
}

void HistoryPanel::showMenu(const QPoint& at) {
    const bool stored = selectedStoredFile().has_value();
    m_pOpen->setEnabled(stored);
    m_pShow->setEnabled(stored);
    m_pMenu->popup(m_pList->viewport()->mapToGlobal(at));
}

void HistoryPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

} // namespace tiv::ui
