#include "ui/dialogs/own_key_view.h"

#include <QButtonGroup>
#include <QFontDatabase>
#include <QStyle>

#include "app/keys.h"
#include "ui/message_style.h"

namespace tiv::ui {

namespace {
constexpr std::size_t key_bytes_per_line = 32;
} // namespace

OwnKeyView::OwnKeyView(app::program& program, const QString& exchangeLabel, const QString& signatureLabel,
                       QWidget* parent)
    : QObject(parent), m_oProgram(program), m_pExchangeChoice(new QRadioButton(exchangeLabel, parent)),
      m_pSignatureChoice(new QRadioButton(signatureLabel, parent)), m_pKeyText(new QPlainTextEdit(parent)),
      m_pKeyBits(new QLineEdit(parent)) {
    m_pExchangeChoice->setObjectName("authenticationKeyRadio");
    m_pSignatureChoice->setObjectName("signatureKeyRadio");
    auto* choices = new QButtonGroup(this);
    choices->addButton(m_pExchangeChoice);
    choices->addButton(m_pSignatureChoice);
    m_pKeyText->setObjectName("keyText");
    m_pKeyText->setAccessibleName("Public key");
    m_pKeyText->setReadOnly(true);
    m_pKeyText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pKeyText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A line of 32 bytes in hex stays whole in view, beside the scroll bar.
    m_pKeyText->setMinimumWidth(m_pKeyText->fontMetrics().horizontalAdvance(QString(2 * key_bytes_per_line, '0')) +
                                m_pKeyText->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
    m_pKeyBits->setObjectName("keyBitsEdit");
    m_pKeyBits->setReadOnly(true);
    m_pKeyBits->setText("0");

    // toggled, not clicked: a click on the key already shown changes nothing.
    connect(m_pExchangeChoice, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            show(false);
        }
    });
    connect(m_pSignatureChoice, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            show(true);
        }
    });
    m_pExchangeChoice->setChecked(true);
}

void OwnKeyView::showAfresh(bool signature) {
    QRadioButton* choice = signature ? m_pSignatureChoice : m_pExchangeChoice;
    // A choice already made emits nothing when chosen again.
    if (choice->isChecked()) {
        show(signature);
    } else {
        choice->setChecked(true);
    }
}

void OwnKeyView::show(bool signature) {
    const app::public_key_text key = signature ? app::signature_key_text(m_oProgram, key_bytes_per_line)
                                               : app::exchange_key_text(m_oProgram, key_bytes_per_line);
    // A key that cannot be read leaves the last one shown rather than a blank that looks like a key of 0 bits.
    if (key.bits == 0) {
        return;
    }
    m_pKeyBits->setText(QString::number(key.bits));
    m_pKeyText->setPlainText(displayText(key.text));
}

} // namespace tiv::ui
