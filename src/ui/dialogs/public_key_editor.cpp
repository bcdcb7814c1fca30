#include "ui/dialogs/public_key_editor.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/friends/friend_form.h"
#include "ui/message_style.h"

namespace tiv::ui {

EditPublicKey::EditPublicKey(app::questions& questions, const QString& text, QWidget* parent)
    : QDialog(parent), m_oQuestions(questions) {
    setObjectName("publicKeyEditor");
    setWindowTitle("Edit Public Key");
    m_pText = new QPlainTextEdit(text, this);
    m_pText->setObjectName("keyText");
    m_pText->setAccessibleName("Public key");
    m_pText->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* done = buttons->addButton("Done", QDialogButtonBox::AcceptRole);
    done->setObjectName("doneButton");
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole)->setObjectName("cancelButton");
    QPushButton* clear = buttons->addButton("Clear", QDialogButtonBox::ActionRole);
    clear->setObjectName("clearButton");
    QPushButton* load = buttons->addButton("Load File", QDialogButtonBox::ActionRole);
    load->setObjectName("loadFileButton");
    // Return belongs to the text, which takes several lines.
    for (QPushButton* button : buttons->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(clear, &QPushButton::clicked, m_pText, &QPlainTextEdit::clear);
    connect(load, &QPushButton::clicked, this, &EditPublicKey::loadFile);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pText);
    layout->addWidget(buttons);
    resize(420, 260);
}

void EditPublicKey::loadFile() {
    const std::optional<std::string> path = m_oQuestions.choose_open_file(app::public_key_chooser());
    if (!path) {
        return;
    }
    const auto loaded = app::read_key_text_file(*path);
    if (!loaded) {
        (void)m_oQuestions.ask(sentenceText(loaded.error().text()), "Edit Public Key", MB_OK | MB_ICONERROR);
        return;
    }
    m_pText->setPlainText(QString::fromStdString(*loaded));
}

} // namespace tiv::ui
