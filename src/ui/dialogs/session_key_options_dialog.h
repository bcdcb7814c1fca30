#pragma once

#include <QCheckBox>
#include <QDialog>
#include <array>
#include <cstdint>

#include "app/questions.h"

namespace tiv::ui {

// "Data Encryption Methods": a set of session key types picked out of those that may be chosen. Its openers (the
// program options, a friend's profile, the user settings) each bring their own two masks and decide what the
// choice means for them.
class SessionKeyOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    // A box is enabled when its type may be chosen and checked when it is chosen; a chosen type that may not be
    // chosen any more stays visible, checked and disabled, so the opener's value is never changed behind the
    // user's back. An empty choice is asked about through `questions` before it is accepted,
    // unless the opener asks itself (setAskAboutEmptyChoice).
    SessionKeyOptionsDialog(std::uint32_t may_choose, std::uint32_t chosen, app::questions& questions,
                            QWidget* parent = nullptr);

    [[nodiscard]] std::uint32_t chosen() const { return m_nChosen; }
    // The box of one type (a mask of one bit).
    [[nodiscard]] QCheckBox* box(std::uint32_t type_bit) const;

    // An opener that asks about an empty set itself when applying turns this off, so the user is asked once.
    void setAskAboutEmptyChoice(bool ask) { m_bAskAboutEmpty = ask; }

    void accept() override;

private:
    app::questions& m_oQuestions;
    std::uint32_t m_nChosen;
    bool m_bAskAboutEmpty = true;
    std::array<QCheckBox*, 12> m_aBoxes{}; // by bit
};

} // namespace tiv::ui
