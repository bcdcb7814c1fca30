#include "ui/dialogs/program_options_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/background_job.h"
#include "ui/dialogs/key_types_box.h"
#include "ui/message_style.h"
#include "ui/window_fit.h"

namespace tiv::ui {

namespace {
constexpr const char* caption = "Options";

QLabel* wrappedLabel(const char* text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// A field's explanation in plain words, in the smaller, quieter type of a hint.
QLabel* hint(const char* text) {
    QLabel* label = wrappedLabel(text);
    label->setObjectName("hintLabel");
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

void addChildren(QTreeWidgetItem* parent, const std::vector<app::tree_item>& children) {
    for (const app::tree_item& node : children) {
        auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(node.text)});
        addChildren(item, node.children);
    }
}
} // namespace

ProgramOptionsDialog::ProgramOptionsDialog(app::program& program, app::questions& questions, QWidget* parent,
                                           NetworkSources sources)
    : QDialog(parent), m_oProgram(program), m_oQuestions(questions), m_oOptions(app::read_program_options(program)) {
    setObjectName("programOptionsDialog");
    setWindowTitle(caption);
    setModal(true);
    buildControls();
    showOptions();
    // The stored entry is there at once; the machine's own addresses and adapters follow when their lookups end.
    runInBackground<std::vector<app::reverse_name>>(
        this, std::move(sources.addresses),
        [this](const std::vector<app::reverse_name>& found) { fillInterfaces(found); });
    runInBackground<std::vector<app::tree_item>>(
        this, std::move(sources.adapters), [this](const std::vector<app::tree_item>& found) { fillAdapters(found); });
}

void ProgramOptionsDialog::buildControls() {
    m_pInterfaces = new QComboBox;
    m_pInterfaces->setObjectName("interfacesCombo");
    m_pAddress = new QLineEdit;
    m_pAddress->setObjectName("interfaceAddressEdit");
    m_pPort = new QLineEdit;
    m_pPort->setObjectName("listenPortEdit");
    auto* listening = new QGroupBox("Select Listening Interface");
    auto* listeningGrid = new QGridLayout(listening);
    // Each on a row of its own: an IPv6 address with its zone, and its name beside it in the list, needs the width.
    listeningGrid->addWidget(m_pAddress, 0, 0, 1, 2);
    listeningGrid->addWidget(m_pInterfaces, 1, 0, 1, 2);
    listeningGrid->addWidget(hint("The address of this computer that takes parcels; 0.0.0.0 or :: takes them on "
                                  "every address."),
                             2, 0, 1, 2);
    listeningGrid->addWidget(new QLabel("Listen Port:"), 3, 0);
    listeningGrid->addWidget(m_pPort, 3, 1);
    listeningGrid->addWidget(hint("The door friends knock at: their profile of you names it, and a router must let it "
                                  "through (Quorvel asks the router itself where it can)."),
                             4, 0, 1, 2);
    listeningGrid->addWidget(wrappedLabel("Applying changes to either the internet (IP) address or port number will "
                                          "terminate all active incoming file transfers!!"),
                             5, 0, 1, 2);
    connect(m_pInterfaces, &QComboBox::currentIndexChanged, this, &ProgramOptionsDialog::chooseInterface);

    m_pBlockSize = new QComboBox;
    m_pBlockSize->setObjectName("blockSizeCombo");
    for (const std::uint32_t size : app::offered_block_sizes) {
        m_pBlockSize->addItem(QString("%1 bytes").arg(size), size);
    }
    m_pExternalName = new QLineEdit;
    m_pExternalName->setObjectName("externalNameEdit");
    m_pExternalName->setAccessibleName("External Access Name");
    m_pProvider = new QLineEdit;
    m_pProvider->setObjectName("providerNameEdit");
    m_pProvider->setAccessibleName("Cryptographic provider");
    m_pProvider->setReadOnly(true);
    m_pKeyTypes = new KeyTypesBox(m_oProgram, m_oQuestions, "Edit List", KeyTypesBox::ButtonPlace::below);
    // Apply asks about an empty policy, once, before anything is written.
    m_pKeyTypes->setAskAboutEmptyChoice(false);
    connect(m_pKeyTypes, &KeyTypesBox::chosen, this, [this](std::uint32_t types) {
        m_oOptions.key_types = types & app::offered_key_types(m_oProgram);
        m_pKeyTypes->showTypes(m_oOptions.key_types);
    });

    // The key types and the provider are for those who know what they are: folded away under "Advanced".
    auto* advanced = new QWidget;
    advanced->setObjectName("advancedOptions");
    auto* advancedGrid = new QGridLayout(advanced);
    advancedGrid->setContentsMargins(0, 0, 0, 0);
    advancedGrid->addWidget(new QLabel("Current Cryptographic Service Provider (CSP):"), 0, 0, 1, 2);
    advancedGrid->addWidget(m_pProvider, 1, 0, 1, 2);
    advancedGrid->addWidget(wrappedLabel("The key type list to the right is a global policy applied to all users. "
                                         "Individual users are allowed to use any key type in the intersection of the "
                                         "keys provided by the selected Cryptographic Service Provider and this "
                                         "approved key list."),
                            2, 0, 2, 1);
    advancedGrid->addWidget(new QLabel("CSP Key Types"), 2, 1);
    advancedGrid->addWidget(m_pKeyTypes, 3, 1);
    advanced->hide();
    auto* showAdvanced = new QToolButton;
    showAdvanced->setObjectName("advancedButton");
    showAdvanced->setText("Advanced");
    showAdvanced->setCheckable(true);
    showAdvanced->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    showAdvanced->setArrowType(Qt::RightArrow);
    showAdvanced->setAutoRaise(true);
    connect(showAdvanced, &QToolButton::toggled, this, [advanced, showAdvanced](bool shown) {
        showAdvanced->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
        advanced->setVisible(shown);
    });

    auto* grid = new QGridLayout;
    grid->addWidget(listening, 0, 0, 1, 2);
    grid->addWidget(new QLabel("IO Block Size"), 1, 0);
    grid->addWidget(m_pBlockSize, 1, 1);
    grid->addWidget(hint("How much is read from or written to the disk at a time; the default suits most disks."), 2, 0,
                    1, 2);
    grid->addWidget(new QLabel("External Access Name (or IP)"), 3, 0);
    grid->addWidget(m_pExternalName, 3, 1);
    grid->addWidget(wrappedLabel("This is the name or IP address that your friends will use to contact you. This "
                                 "could be a fixed domain name that resolves to your computer's IP address, or just "
                                 "your externally visible, static, IP address."),
                    4, 0, 1, 2);
    grid->addWidget(showAdvanced, 5, 0, 1, 2, Qt::AlignLeft);
    grid->addWidget(advanced, 6, 0, 1, 2);
    grid->setRowStretch(7, 1);

    m_pAdapters = new QTreeWidget;
    m_pAdapters->setObjectName("adaptersTree");
    m_pAdapters->setAccessibleName("Network adapters");
    m_pAdapters->setHeaderHidden(true);
    // A long line (an IPv6 address with its zone, a lease's times) scrolls sideways rather than being cut short.
    m_pAdapters->header()->setStretchLastSection(false);
    m_pAdapters->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* adapters = new QGroupBox("External Network Interfaces");
    (new QVBoxLayout(adapters))->addWidget(m_pAdapters);

    m_pNotice = wrappedLabel("");
    m_pNotice->setObjectName("machineNoticeLabel");
    m_pApply = new QPushButton("Apply");
    m_pApply->setObjectName("applyButton");
    m_pApply->setDefault(true);
    auto* cancel = new QPushButton("Cancel");
    cancel->setObjectName("cancelButton");
    connect(m_pApply, &QPushButton::clicked, this, &ProgramOptionsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &ProgramOptionsDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pApply);
    buttons->addWidget(cancel);

    auto* columns = new QHBoxLayout;
    columns->addLayout(grid, 3);
    columns->addWidget(adapters, 2);
    auto* layout = new QVBoxLayout(scrollingContent(this));
    layout->addLayout(columns);
    layout->addWidget(m_pNotice);
    layout->addLayout(buttons);
}

void ProgramOptionsDialog::showOptions() {
    fillInterfaces({});
    m_pPort->setText(QString::number(m_oOptions.port));
    m_pBlockSize->setCurrentIndex(m_pBlockSize->findData(m_oOptions.block_size));
    m_pExternalName->setText(QString::fromStdString(m_oOptions.external_name));
    m_pProvider->setText(QString::fromStdString(app::provider_name(m_oProgram)));
    m_pKeyTypes->showTypes(m_oOptions.key_types);
    // Nothing here could be stored, so Apply is offered only where it can work.
    const std::optional<std::string> notice = app::machine_settings_notice(m_oProgram);
    m_pNotice->setText(notice ? QString::fromStdString(sentenceText(*notice)) : QString());
    m_pNotice->setVisible(notice.has_value());
    m_pApply->setEnabled(!notice);
}

void ProgramOptionsDialog::fillInterfaces(const std::vector<app::reverse_name>& addresses) {
    const app::interface_entries list = app::interface_entries_for(addresses, m_oOptions.interface_text);
    {
        const QSignalBlocker quiet(m_pInterfaces);
        m_pInterfaces->clear();
        for (const app::interface_entry& entry : list.entries) {
            m_pInterfaces->addItem(QString::fromStdString(entry.label), QString::fromStdString(entry.address));
        }
        m_pInterfaces->setCurrentIndex(static_cast<int>(list.selected));
    }
    // An address the user has begun to type while the lookups ran stays as typed.
    if (!m_pAddress->isModified()) {
        chooseInterface(static_cast<int>(list.selected));
    }
}

void ProgramOptionsDialog::fillAdapters(const std::vector<app::tree_item>& branches) {
    m_pAdapters->clear();
    addChildren(m_pAdapters->invisibleRootItem(), branches);
    if (m_pAdapters->topLevelItemCount() > 0) {
        m_pAdapters->topLevelItem(0)->setExpanded(true);
    }
}

void ProgramOptionsDialog::chooseInterface(int index) {
    if (index < 0) {
        return;
    }
    // The label names the address; only the address itself is stored.
    m_oOptions.interface_text = m_pInterfaces->itemData(index).toString().toStdString();
    m_pAddress->setText(QString::fromStdString(m_oOptions.interface_text));
}

app::program_options ProgramOptionsDialog::readControls() const {
    app::program_options chosen = m_oOptions;
    chosen.interface_text = m_pAddress->text().trimmed().toStdString();
    bool number = false;
    const uint port = m_pPort->text().trimmed().toUInt(&number);
    chosen.port = number ? port : 0; // no number is refused as an invalid port
    chosen.block_size = m_pBlockSize->currentData().toUInt();
    chosen.external_name = m_pExternalName->text().trimmed().toStdString();
    return chosen;
}

void ProgramOptionsDialog::accept() {
    const app::options_applied done = app::apply_program_options(m_oProgram, m_oQuestions, readControls());
    if (!done.outcome) {
        (void)m_oQuestions.ask(sentenceText(done.outcome.text()), caption, MB_OK | MB_ICONERROR);
    }
    if (!done.applied) {
        return;
    }
    if (done.restarted && !m_oProgram.listen_status().ok()) {
        (void)m_oQuestions.ask("The options were stored, but the program is not listening: " +
                                   m_oProgram.listen_status().text(),
                               caption, MB_OK | MB_ICONWARNING);
    }
    QDialog::accept();
}

} // namespace tiv::ui
