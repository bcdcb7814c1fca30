#include "ui/dialogs/key_management_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/identity.h"
#include "ui/background_job.h"
#include "ui/message_style.h"
#include "ui/window_fit.h"

namespace tiv::ui {

namespace {

const char* const friends_need_profile =
    "Your friends need your new profile before they can exchange files with you again: export it from the main "
    "window (\"Export User Profile\") and send it to each of them.";

QLineEdit* readOnlyField(const QString& name) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setReadOnly(true);
    return field;
}

} // namespace

KeyManagementDialog::KeyManagementDialog(app::program& program, app::questions& questions, QWidget* parent)
    : QDialog(parent), m_oProgram(program), m_oQuestions(questions) {
    setObjectName("keyManagementDialog");
    setWindowTitle("Create RSA Keys");
    setModal(true);

    m_pKeys = new OwnKeyView(program, "Authentication Key", "Signature Key", this);
    m_pKeys->keyBits()->setObjectName("currentKeyBitsEdit");
    auto* uuid = readOnlyField("uuidEdit");
    uuid->setText(QString::fromStdString(app::describe_identity(program).uuid));
    m_pLength = new QSlider(Qt::Horizontal);
    m_pLength->setObjectName("newKeyLengthSlider");
    m_pLength->setRange(4, 64);
    m_pNewBits = readOnlyField("newKeyBitsEdit");
    m_pStrength = readOnlyField("estimatedStrengthEdit");
    m_pBusy = new QProgressBar;
    m_pBusy->setObjectName("busyBar");
    m_pBusy->setRange(0, 0); // OpenSSL reports no progress: a moving bar says only that it is working
    m_pBusy->hide();
    auto* create = new QPushButton("Create New Keys");
    create->setObjectName("createNewKeysButton");
    auto* ok = new QPushButton("OK");
    ok->setObjectName("okButton");
    ok->setDefault(true);
    m_aIdleControls = {create, ok, m_pLength, m_pKeys->exchangeChoice(), m_pKeys->signatureChoice()};

    auto* radios = new QHBoxLayout;
    radios->addWidget(m_pKeys->exchangeChoice());
    radios->addWidget(m_pKeys->signatureChoice());
    auto* fields = new QFormLayout;
    fields->addRow("Current Key Bits", m_pKeys->keyBits());
    fields->addRow("UUID", uuid);
    fields->addRow("New Key Length", m_pLength);
    fields->addRow("Key Bits", m_pNewBits);
    fields->addRow("Estimated Strength (effective bits)", m_pStrength);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pBusy, 1);
    buttons->addWidget(create);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(scrollingContent(this));
    layout->addLayout(radios);
    layout->addWidget(m_pKeys->keyText(), 1);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(m_pLength, &QSlider::valueChanged, this, &KeyManagementDialog::showLength);
    connect(create, &QPushButton::clicked, this, &KeyManagementDialog::createNewKeys);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    m_pLength->setValue(first_step);
    showLength(first_step);
}

void KeyManagementDialog::showLength(int step) {
    const auto bits = static_cast<unsigned>(step * bits_per_step);
    m_pNewBits->setText(QString::number(bits));
    m_pStrength->setText(QString::number(app::key_strength(bits)));
}

void KeyManagementDialog::createNewKeys() {
    if (m_bGenerating) {
        return;
    }
    const auto bits = static_cast<unsigned>(m_pLength->value() * bits_per_step);
    const std::vector<app::key_question> questions = app::rekey_questions(bits);
    for (std::size_t i = 0; i < questions.size(); ++i) {
        // Only the length warnings carry an icon; the first question stands on its own words.
        const unsigned style = i == 0 ? MB_OKCANCEL : MB_OKCANCEL | MB_ICONINFORMATION;
        if (m_oQuestions.ask(questions[i].text, questions[i].caption, style) != IDOK) {
            return;
        }
    }
    setGenerating(true);
    // The job holds nothing of the dialog, so a dialog deleted meanwhile only drops the outcome.
    runInBackground<app::rekey_report>(
        this, [&program = m_oProgram, bits] { return app::rekey(program, bits); },
        [this](const app::rekey_report& report) { reportOutcome(report); });
}

void KeyManagementDialog::reject() {
    if (!m_bGenerating) {
        QDialog::reject();
    }
}

void KeyManagementDialog::setGenerating(bool on) {
    m_bGenerating = on;
    for (QWidget* control : m_aIdleControls) {
        control->setEnabled(!on);
    }
    m_pBusy->setVisible(on);
    if (on) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void KeyManagementDialog::reportOutcome(const app::rekey_report& report) {
    setGenerating(false);
    m_pKeys->showAfresh(true);
    (void)m_oQuestions.ask(report.signature_message, "Signature Key Generation",
                           report.signature_bits != 0 ? MB_OK : MB_OK | MB_ICONERROR);
    m_pKeys->showAfresh(false);
    std::string text = report.exchange_message + "\n\n";
    text += report.outcome ? friends_need_profile : sentenceText(report.outcome.text());
    (void)m_oQuestions.ask(text, "Exchange Key Generation",
                           report.outcome ? MB_OK | MB_ICONINFORMATION : MB_OK | MB_ICONERROR);
}

} // namespace tiv::ui
