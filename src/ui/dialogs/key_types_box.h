#pragma once

#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <cstdint>

#include "app/program.h"
#include "app/questions.h"

namespace tiv::ui {

// A set of session key types as its dialog shows it: the list of their names and the button that opens the session
// key chooser over them. The options, a friend's profile and the user settings each hold one; each decides what a
// choice means for it, so the box lists only what its opener gives back.
class KeyTypesBox final : public QWidget {
    Q_OBJECT
public:
    enum class ButtonPlace { below, beside };

    KeyTypesBox(app::program& program, app::questions& questions, const QString& buttonText, ButtonPlace place,
                QWidget* parent = nullptr);

    void showTypes(std::uint32_t types);
    [[nodiscard]] QPushButton* editButton() const { return m_pEdit; }

    // An opener that asks about an empty set itself when applying turns this off, so the user is asked once.
    void setAskAboutEmptyChoice(bool ask) { m_bAskAboutEmpty = ask; }

    // The chooser, offering the provider's types and starting from those listed; its OK is heard through chosen().
    void edit();

signals:
    void chosen(std::uint32_t types);

private:
    app::program& m_oProgram;
    app::questions& m_oQuestions;
    std::uint32_t m_nTypes = 0;
    bool m_bAskAboutEmpty = true;
    QListWidget* m_pList;
    QPushButton* m_pEdit;
};

} // namespace tiv::ui
