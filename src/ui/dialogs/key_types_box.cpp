#include "ui/dialogs/key_types_box.h"

#include <QBoxLayout>

#include "app/friends/friend_form.h"
#include "app/settings/program_options.h"
#include "ui/dialogs/session_key_options_dialog.h"

namespace tiv::ui {

KeyTypesBox::KeyTypesBox(app::program& program, app::questions& questions, const QString& buttonText, ButtonPlace place,
                         QWidget* parent)
    : QWidget(parent), m_oProgram(program), m_oQuestions(questions), m_pList(new QListWidget(this)),
      m_pEdit(new QPushButton(buttonText, this)) {
    setObjectName("keyTypesBox");
    m_pList->setObjectName("keyTypesList");
    m_pList->setAccessibleName("Session key types");
    // The names only describe the set; the button is the way to change it.
    m_pList->setSelectionMode(QAbstractItemView::NoSelection);
    m_pEdit->setObjectName("editKeyTypesButton");
    m_pEdit->setAutoDefault(false);
    connect(m_pEdit, &QPushButton::clicked, this, &KeyTypesBox::edit);

    auto* layout =
        new QBoxLayout(place == ButtonPlace::below ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight, this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pList);
    layout->addWidget(m_pEdit, 0, place == ButtonPlace::below ? Qt::Alignment() : Qt::AlignTop);
}

void KeyTypesBox::showTypes(std::uint32_t types) {
    m_nTypes = types;
    m_pList->clear();
    for (const std::string& name : app::friend_key_type_names(types)) {
        m_pList->addItem(QString::fromStdString(name));
    }
}

void KeyTypesBox::edit() {
    auto* chooser = new SessionKeyOptionsDialog(app::offered_key_types(m_oProgram), m_nTypes, m_oQuestions, window());
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setAskAboutEmptyChoice(m_bAskAboutEmpty);
    connect(chooser, &QDialog::accepted, this, [this, chooser] { emit chosen(chooser->chosen()); });
    chooser->open();
}

} // namespace tiv::ui
