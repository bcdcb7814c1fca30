#include "ui/dialogs/profile_dialog.h"

#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/friends/friend_form.h"
#include "app/friends/profile_service.h"
#include "ui/dialogs/profile_limits.h"
#include "ui/message_style.h"
#include "ui/window_fit.h"

namespace tiv::ui {

namespace {
QPushButton* makeButton(const char* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* makeEdit(const char* name, int maxLength, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    return edit;
}
} // namespace

app::friend_record ProfileDialog::defaultProfile() {
    app::friend_record profile;
    app::set_friend_name(profile, "Profile name");
    app::friend_policy defaults;
    defaults.max_size = maxSizeValue(0);
    defaults.max_count = maxCountValue(0);
    defaults.address = "localhost";
    defaults.port = 20000;
    app::apply_friend_policy(defaults, profile);
    profile.key_bits = 512;
    return profile;
}

ProfileDialog::ProfileDialog(app::program& program, app::questions& questions, QWidget* parent)
    : QDialog(parent), m_oProgram(program), m_oQuestions(questions), m_oProfile(defaultProfile()) {
    setObjectName("profileDialog");
    setWindowTitle("Configure Parcel Box Profiles");
    buildControls();
    setEditing(false);
    showProfile(m_oProfile);
    reloadNames();
    if (m_pNames->count() == 0) {
        return;
    }
    m_pNames->setCurrentRow(0);
    const std::string first = m_pNames->item(0)->text().toStdString();
    // Only the first profile is checked this way: a user who opens the dialog learns of a damaged friend at once.
    if (const auto read = app::read_friend(m_oProgram, first);
        !read && read.error().code() == app::status_code::invalid) {
        (void)m_oQuestions.ask("The key data for this profile does not\nmatch the expected byte count or key "
                               "bit\ncount!  The data are probably corrupted!",
                               "Corrupted Key Data!", MB_OK | MB_ICONINFORMATION);
    }
}

void ProfileDialog::buildControls() {
    m_pNames = new QListWidget(this);
    m_pNames->setObjectName("profileNamesList");
    m_pNames->setAccessibleName("Friend profiles");
    m_pNames->setSortingEnabled(true);
    connect(m_pNames, &QListWidget::currentRowChanged, this, &ProfileDialog::showSelected);
    QPushButton* create = makeButton("New", "newButton", this);
    QPushButton* edit = makeButton("Edit", "editButton", this);
    QPushButton* remove = makeButton("Delete", "deleteButton", this);
    QPushButton* import = makeButton("Import Profile", "importButton", this);
    QPushButton* done = makeButton("Done", "doneButton", this);
    done->setDefault(true);
    connect(create, &QPushButton::clicked, this, &ProfileDialog::newProfile);
    connect(edit, &QPushButton::clicked, this, &ProfileDialog::editProfile);
    connect(remove, &QPushButton::clicked, this, &ProfileDialog::deleteProfile);
    connect(import, &QPushButton::clicked, this, &ProfileDialog::importProfile);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);

    m_pReceipt = new QCheckBox("Parcel Receipt Enabled", this);
    m_pReceipt->setObjectName("receiptCheck");
    m_pMessages = new QCheckBox("Messages Shown", this);
    m_pMessages->setObjectName("messagesCheck");
    m_pName = makeEdit("profileNameEdit", static_cast<int>(app::friend_limits.name), this);
    connect(m_pName, &QLineEdit::editingFinished, this, [this] {
        m_pName->setText(QString::fromStdString(app::friend_profile_name(m_pName->text().toStdString())));
    });
    m_pAddress = makeEdit("addressEdit", static_cast<int>(app::friend_limits.address), this);
    m_pPort = makeEdit("portEdit", 10, this);
    m_pKeyTypes = new KeyTypesBox(m_oProgram, m_oQuestions, "Edit", KeyTypesBox::ButtonPlace::beside, this);
    // The profile takes the choice as it stands, a type the provider dropped since included.
    connect(m_pKeyTypes, &KeyTypesBox::chosen, this, [this](std::uint32_t types) {
        m_oProfile.key_types = types;
        m_pKeyTypes->showTypes(types);
    });
    m_pUuid = makeEdit("uuidEdit", static_cast<int>(app::friend_limits.uuid), this);
    m_pKey = new QPlainTextEdit(this);
    m_pKey->setObjectName("keyText");
    m_pKey->setAccessibleName("Public key");
    m_pKey->setReadOnly(true);
    m_pKey->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pKey->setPlaceholderText("000000000000000000000000");
    QPushButton* editKey = makeButton("Edit", "editKeyButton", this);
    connect(editKey, &QPushButton::clicked, this, &ProfileDialog::editPublicKey);
    m_oKeyPalette = m_pKey->palette();
    m_pKeyDamage = new QLabel(this);
    m_pKeyDamage->setObjectName("keyDamageLabel");
    // Its room is kept while there is nothing to say, so a damaged friend never moves the fields below it.
    m_pKeyDamage->setMinimumHeight(2 * m_pKeyDamage->fontMetrics().lineSpacing());
    QPalette warning = m_pKeyDamage->palette();
    warning.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x00));
    m_pKeyDamage->setPalette(warning);
    m_pKeyBits = makeEdit("keyBitsEdit", 10, this);
    m_pKeyBits->setEnabled(false);
    m_pDirectory = makeEdit("receiptDirectoryEdit", static_cast<int>(app::friend_limits.parcel_box), this);
    m_pDirectory->setReadOnly(true);
    m_pFingerprint = makeEdit("fingerprintEdit", 200, this);
    m_pFingerprint->setAccessibleName("Fingerprint");
    m_pFingerprint->setReadOnly(true);
    // A friend compares it character by character with their own: all of it stays in view.
    m_pFingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_pFingerprint->setMinimumWidth(m_pFingerprint->fontMetrics().horizontalAdvance(QString(79, '0')) + 12);
    m_pCoverage = new QLabel(this);
    m_pCoverage->setObjectName("fingerprintCoverageLabel");
    m_pMaxSize = new QComboBox(this);
    m_pMaxSize->setObjectName("maxSizeCombo");
    m_pMaxSize->addItems(maxSizeItems());
    m_pMaxCount = new QComboBox(this);
    m_pMaxCount->setObjectName("maxCountCombo");
    m_pMaxCount->addItems(maxCountItems());
    QPushButton* save = makeButton("Save Changes", "saveButton", this);
    QPushButton* cancel = makeButton("Cancel", "cancelButton", this);
    connect(save, &QPushButton::clicked, this, &ProfileDialog::saveChanges);
    connect(cancel, &QPushButton::clicked, this, &ProfileDialog::cancelEditing);

    m_aEditingControls = {m_pReceipt, m_pMessages, m_pName,    m_pAddress,  m_pPort, m_pKeyTypes->editButton(),
                          m_pUuid,    editKey,     m_pMaxSize, m_pMaxCount, save,    cancel};
    m_aSelectionControls = {create, edit, remove, import, m_pNames, done};

    auto* browse = new QVBoxLayout;
    browse->addWidget(new QLabel("Current Profiles", this));
    browse->addWidget(m_pNames);
    for (QPushButton* button : {create, edit, remove, import, done}) {
        browse->addWidget(button);
    }
    auto* fields = new QFormLayout;
    auto* receiving = new QHBoxLayout;
    receiving->addWidget(m_pReceipt);
    receiving->addWidget(m_pMessages);
    receiving->addStretch();
    fields->addRow(receiving);
    fields->addRow("Profile Name", m_pName);
    fields->addRow("Parcel Box", m_pDirectory);
    fields->addRow("Internet Address", m_pAddress);
    fields->addRow("IP Port", m_pPort);
    fields->addRow("UUID", m_pUuid);
    fields->addRow("Max File Size (Kb)", m_pMaxSize);
    fields->addRow("Max File Count", m_pMaxCount);
    fields->addRow("Encryption Methods", m_pKeyTypes);
    auto* key = new QHBoxLayout;
    key->addWidget(m_pKey);
    key->addWidget(editKey, 0, Qt::AlignTop);
    fields->addRow("RSA Public Authentication Key", key);
    fields->addRow(m_pKeyDamage);
    fields->addRow("KeyBits", m_pKeyBits);
    fields->addRow(new QLabel("Fingerprint", this));
    fields->addRow(m_pFingerprint);
    fields->addRow(m_pCoverage);
    auto* editButtons = new QHBoxLayout;
    editButtons->addStretch();
    editButtons->addWidget(save);
    editButtons->addWidget(cancel);
    fields->addRow(editButtons);
    auto* layout = new QHBoxLayout(scrollingContent(this));
    layout->addLayout(browse);
    layout->addLayout(fields, 1);
}

void ProfileDialog::setEditing(bool editing) {
    m_bEditing = editing;
    for (QWidget* control : m_aEditingControls) {
        control->setEnabled(editing);
    }
    for (QWidget* control : m_aSelectionControls) {
        control->setEnabled(!editing);
    }
}

void ProfileDialog::showProfile(const app::friend_record& profile, const std::string& damage) {
    m_oProfile = profile;
    m_sKeyDamage = damage;
    m_pReceipt->setChecked(profile.receipt_enabled);
    m_pMessages->setChecked(profile.accepts_messages());
    m_pName->setText(QString::fromStdString(profile.name));
    m_pDirectory->setText(QString::fromStdString(profile.parcel_box));
    m_pAddress->setText(QString::fromStdString(app::friend_address_text(profile)));
    m_pPort->setText(QString::number(profile.port));
    m_pUuid->setText(QString::fromStdString(profile.uuid));
    m_pMaxSize->setCurrentIndex(maxSizeIndex(profile.max_file_size));
    m_pMaxCount->setCurrentIndex(maxCountIndex(profile.max_file_count));
    m_pKeyTypes->showTypes(profile.key_types);
    showKey();
}

void ProfileDialog::showKey() {
    m_pKey->setPlainText(QString::fromStdString(app::friend_key_text(m_oProfile)));
    m_pKeyBits->setText(QString::number(m_oProfile.key_bits));
    // A damaged key authenticates nobody; a fingerprint of its bytes would only be compared in vain.
    const std::string fingerprint = m_sKeyDamage.empty() ? app::friend_fingerprint(m_oProfile) : std::string();
    m_pFingerprint->setText(QString::fromStdString(fingerprint));
    m_pCoverage->setText(fingerprint.empty() ? QString() : app::friend_fingerprint_coverage(m_oProfile));
    QPalette keyPalette = m_oKeyPalette;
    if (!m_sKeyDamage.empty()) {
        keyPalette.setColor(QPalette::Base, QColor(0xFF, 0xE0, 0xE0));
    }
    m_pKey->setPalette(keyPalette);
    // A wrapping label would widen the form's minimum height far beyond the two lines; the reason goes on a
    // line of its own.
    m_pKeyDamage->setText(QString::fromStdString(m_sKeyDamage).replace(": ", ":\n"));
}

void ProfileDialog::reloadNames() {
    const QSignalBlocker quiet(m_pNames);
    m_pNames->clear();
    const auto friends = app::list_friends(m_oProgram);
    if (!friends) {
        return;
    }
    for (const app::friend_summary& known : *friends) {
        m_pNames->addItem(QString::fromStdString(known.name));
    }
}

void ProfileDialog::selectProfile(const QString& name) {
    reloadNames();
    const QList<QListWidgetItem*> found = m_pNames->findItems(name, Qt::MatchFixedString);
    if (!found.isEmpty()) {
        const QSignalBlocker quiet(m_pNames);
        m_pNames->setCurrentItem(found.front());
    }
}

// Whatever the stored profile holds, the fields show the highlighted friend, so "Edit", "Save Changes" and
// "Delete" all act on the one the user sees.
void ProfileDialog::showSelected() {
    const QListWidgetItem* selected = m_pNames->currentItem();
    if (selected == nullptr) {
        return;
    }
    const std::string name = selected->text().toStdString();
    const auto read = app::read_friend_as_is(m_oProgram, name);
    if (read) {
        showProfile(read->record, read->damage);
        return;
    }
    // Gone meanwhile, deleted by another program: empty fields under its name rather than the friend shown before.
    app::friend_record blank;
    app::set_friend_name(blank, name);
    showProfile(blank, sentenceText(read.error().text()));
}

bool ProfileDialog::readControls(app::friend_record& profile) {
    bool isNumber = false;
    const int port = m_pPort->text().toInt(&isNumber);
    if (!isNumber) {
        (void)m_oQuestions.ask("Enter an integer.", "Configure Parcel Box Profiles", MB_OK | MB_ICONWARNING);
        m_pPort->setFocus();
        return false;
    }
    profile = m_oProfile;
    app::set_friend_name(profile, app::friend_profile_name(m_pName->text().toStdString()));
    app::set_friend_uuid(profile, m_pUuid->text().trimmed().toStdString());
    profile.port = port;
    app::friend_policy typed;
    typed.accept = m_pReceipt->isChecked();
    // A friend whose messages were never decided on keeps following the parcels, unless the box says otherwise.
    if (profile.messages || m_pMessages->isChecked() != m_pReceipt->isChecked()) {
        typed.messages = m_pMessages->isChecked();
    }
    typed.max_size = maxSizeValue(m_pMaxSize->currentIndex());
    typed.max_count = maxCountValue(m_pMaxCount->currentIndex());
    typed.address = m_pAddress->text().trimmed().toStdString();
    app::apply_friend_policy(typed, profile);
    return true;
}

} // namespace tiv::ui
