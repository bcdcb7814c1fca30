#include "ui/dialogs/user_settings_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/reachability.h"
#include "ui/dialogs/key_management_dialog.h"
#include "ui/dialogs/key_types_box.h"
#include "ui/message_style.h"
#include "ui/window_fit.h"

namespace tiv::ui {

namespace {
constexpr const char* caption = "User Settings";

const char* const root_waits =
    "Parcels keep landing under the old parcel box root until the incoming transfers under way have ended; the "
    "new root takes their place then.";

QLineEdit* readOnlyField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    return field;
}

QPushButton* makeButton(const char* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}
} // namespace

UserSettingsDialog::UserSettingsDialog(app::program& program, app::questions& questions, QWidget* parent)
    : QDialog(parent), m_oProgram(program), m_oQuestions(questions) {
    setObjectName("userSettingsDialog");
    setWindowTitle(caption);
    setModal(true);

    // Shown, never chosen here: the list and its button stay disabled.
    auto* keyTypes = new KeyTypesBox(m_oProgram, m_oQuestions, "Configure", KeyTypesBox::ButtonPlace::beside, this);
    keyTypes->setEnabled(false);

    m_pKeys = new OwnKeyView(m_oProgram, "Authentication", "Signature", this);
    m_pFingerprint = readOnlyField("fingerprintEdit", this);
    m_pFingerprint->setAccessibleName("Fingerprint");
    // A friend compares it character by character with their own: all of it stays in view.
    m_pFingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_pFingerprint->setMinimumWidth(m_pFingerprint->fontMetrics().horizontalAdvance(QString(79, '0')) + 12);
    m_pCoverage = new QLabel(this);
    m_pCoverage->setObjectName("fingerprintCoverageLabel");

    m_pDirectory = readOnlyField("receptionDirectoryEdit", this);
    m_pDirectory->setAccessibleName("Parcel box directory");
    QPushButton* select = makeButton("Select...", "selectDirectoryButton", this);
    m_pUserName = new QLineEdit(this);
    m_pUserName->setObjectName("userNameEdit");
    m_pUuid = readOnlyField("uuidEdit", this);
    QPushButton* recreate = makeButton("Recreate RSA Keys", "recreateKeysButton", this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");

    auto* typesBox = new QGroupBox("User's Approved Symmetric Key Types", this);
    (new QHBoxLayout(typesBox))->addWidget(keyTypes);
    auto* radios = new QHBoxLayout;
    radios->addWidget(m_pKeys->exchangeChoice());
    radios->addWidget(m_pKeys->signatureChoice());
    radios->addStretch();
    auto* directory = new QHBoxLayout;
    directory->addWidget(m_pDirectory, 1);
    directory->addWidget(select);
    auto* fields = new QFormLayout;
    fields->addRow("Length (bits)", m_pKeys->keyBits());
    fields->addRow(new QLabel("Fingerprint", this));
    fields->addRow(m_pFingerprint);
    fields->addRow(m_pCoverage);
    fields->addRow("File Reception Directory", directory);
    fields->addRow("User Name", m_pUserName);
    fields->addRow("UUID", m_pUuid);
    // Whether friends outside reach this program through the router, as the listener last heard from it.
    auto* reachability = new QLabel(QString::fromStdString(app::reachability_now(m_oProgram)), this);
    reachability->setObjectName("reachabilityLabel");
    reachability->setWordWrap(true);
    reachability->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fields->addRow("Internet", reachability);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(recreate);
    bottom->addStretch();
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(scrollingContent(this));
    // Beside the key types, which need far less width than they have: the dialog keeps its size, and the two
    // share what the fingerprint's width leaves them.
    m_pBackground = new BackgroundOptionsBox(m_oProgram, this);
    m_pBackground->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* top = new QHBoxLayout;
    top->addWidget(typesBox, 1);
    top->addWidget(m_pBackground, 1);
    layout->addLayout(top);
    layout->addLayout(radios);
    layout->addWidget(m_pKeys->keyText(), 1);
    layout->addLayout(fields);
    layout->addLayout(bottom);

    connect(select, &QPushButton::clicked, this, &UserSettingsDialog::selectDirectory);
    connect(recreate, &QPushButton::clicked, this, &UserSettingsDialog::recreateKeys);
    connect(buttons, &QDialogButtonBox::accepted, this, &UserSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const app::user_settings_view view = app::read_user_settings(m_oProgram);
    keyTypes->showTypes(view.usable_key_types);
    m_pDirectory->setText(QString::fromStdString(view.parcel_root));
    m_pUserName->setText(QString::fromStdString(view.user_name));
    m_pUuid->setText(QString::fromStdString(view.uuid));
    showFingerprint(view);
}

void UserSettingsDialog::showFingerprint(const app::user_settings_view& view) {
    m_pFingerprint->setText(QString::fromStdString(view.fingerprint));
    m_pCoverage->setText(QString::fromStdString(view.fingerprint_coverage));
}

void UserSettingsDialog::selectDirectory() {
    if (const std::optional<std::string> folder = m_oQuestions.choose_folder(app::parcel_root_folder_title)) {
        m_pDirectory->setText(QString::fromStdString(*folder));
    }
}

void UserSettingsDialog::recreateKeys() {
    auto* keys = new KeyManagementDialog(m_oProgram, m_oQuestions, this);
    keys->setAttribute(Qt::WA_DeleteOnClose);
    connect(keys, &QDialog::finished, this, [this] {
        m_pKeys->showAfresh(false);
        showFingerprint(app::read_user_settings(m_oProgram));
    });
    keys->open();
}

void UserSettingsDialog::accept() {
    if (const app::status background = m_pBackground->apply(); !background) {
        (void)m_oQuestions.ask(sentenceText(background.text()), caption, MB_OK | MB_ICONWARNING);
        return;
    }
    const app::user_settings_outcome outcome =
        app::apply_user_settings(m_oProgram, {m_pUserName->text().toStdString(), m_pDirectory->text().toStdString()});
    if (!outcome.saved) {
        (void)m_oQuestions.ask(sentenceText(outcome.saved.text()), caption, MB_OK | MB_ICONWARNING);
        return;
    }
    if (!outcome.root) {
        (void)m_oQuestions.ask(sentenceText(outcome.root.text()), "Could Not Create!", MB_OK | MB_ICONERROR);
        return;
    }
    if (outcome.reroot == app::listener_reroot::waiting) {
        (void)m_oQuestions.ask(root_waits, caption, MB_OK | MB_ICONINFORMATION);
    } else if (outcome.reroot == app::listener_reroot::restarted && !m_oProgram.listen_status()) {
        (void)m_oQuestions.ask("The listener could not start again on the new parcel box root: " +
                                   m_oProgram.listen_status().text(),
                               caption, MB_OK | MB_ICONWARNING);
    }
    QDialog::accept();
}

} // namespace tiv::ui
