#include "ui/dialogs/session_key_options_dialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <bit>

#include "ui/message_style.h"
#include "ui/window_fit.h"

namespace tiv::ui {

namespace {
struct KeyTypeRow {
    unsigned bit;
    const char* label; // padded with blanks so the columns line up in a fixed-pitch font
};

// Strongest first, as users compare them, which is not the order of the bits.
constexpr std::array<KeyTypeRow, 12> key_type_rows{{
    {11, "AES 256 (CBC)           256           "},
    {10, "AES 192 (CBC)           192           "},
    {9, "AES 128 (CBC)           128           "},
    {6, "Triple DES (CBC)        168"},
    {5, "Triple DES-2Key (CBC)   112/?"},
    {8, "RC4                     128"},
    {7, "RC2 (CBC)               128"},
    {4, "RC4                     56"},
    {3, "RC2 (CBC)               56"},
    {2, "DES (CBC)               56"},
    {1, "RC4                     40"},
    {0, "RC2 (CBC)               40"},
}};

constexpr std::uint32_t every_key_type = 0xFFF;

const char* const empty_choice_text =
    "No session key type is approved: no parcel can be sent or received. Apply anyway?";
} // namespace

SessionKeyOptionsDialog::SessionKeyOptionsDialog(std::uint32_t may_choose, std::uint32_t chosen,
                                                 app::questions& questions, QWidget* parent)
    : QDialog(parent), m_oQuestions(questions), m_nChosen(chosen & every_key_type) {
    setObjectName("sessionKeyOptionsDialog");
    setWindowTitle("Data Encryption Methods");
    setModal(true);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Algorithm"), 0, 0);
    grid->addWidget(new QLabel("key bits/ effective"), 0, 1);
    grid->addWidget(new QLabel("Enabled"), 0, 2);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    int row = 1;
    for (const KeyTypeRow& type : key_type_rows) {
        const std::uint32_t mask = 1U << type.bit;
        auto* box = new QCheckBox(type.label);
        box->setObjectName(QString("keyType%1Check").arg(mask, 3, 16, QChar('0')));
        box->setFont(fixed);
        box->setChecked((m_nChosen & mask) != 0);
        box->setEnabled((may_choose & mask) != 0);
        connect(box, &QCheckBox::toggled, this,
                [this, mask](bool on) { m_nChosen = on ? m_nChosen | mask : m_nChosen & ~mask; });
        grid->addWidget(box, row++, 0, 1, 3);
        m_aBoxes[type.bit] = box;
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(scrollingContent(this));
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

QCheckBox* SessionKeyOptionsDialog::box(std::uint32_t type_bit) const {
    return m_aBoxes.at(static_cast<std::size_t>(std::countr_zero(type_bit)));
}

void SessionKeyOptionsDialog::accept() {
    // With no type in common no authentication can succeed, so an empty set is never taken by accident.
    if (m_nChosen == 0 && m_bAskAboutEmpty &&
        m_oQuestions.ask(empty_choice_text, "Data Encryption Methods", MB_YESNO | MB_ICONWARNING) != IDYES) {
        return;
    }
    QDialog::accept();
}

} // namespace tiv::ui
