#pragma once

#include <vector>

#include <QDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include "app/keys.h"
#include "app/program.h"
#include "app/questions.h"
#include "ui/dialogs/own_key_view.h"

namespace tiv::ui {

// "Create RSA Keys": shows the user's two public keys and replaces both pairs with new ones of the length on the
// slider. Making them takes seconds to minutes, so it runs on a worker while the dialog shows that it is busy;
// the outcome comes back as a queued call, with the lengths actually made.
class KeyManagementDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int bits_per_step = 256;
    static constexpr int first_step = 12; // 3072 bits

    // `program` outlives every dialog and every generation one started: a dialog deleted while its keys are being
    // made leaves the worker to finish alone.
    KeyManagementDialog(app::program& program, app::questions& questions, QWidget* parent = nullptr);

    // Asks the questions for the length shown and, when all are answered OK, starts making the keys.
    void createNewKeys();
    [[nodiscard]] bool generating() const { return m_bGenerating; }

    // Closing waits for the keys under way: their outcome (a failure above all) must be seen.
    void reject() override;

private:
    void showLength(int step);
    void setGenerating(bool on);
    // On the window thread, once both pairs were tried.
    void reportOutcome(const app::rekey_report& report);

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    bool m_bGenerating = false;
    OwnKeyView* m_pKeys = nullptr;
    QSlider* m_pLength = nullptr;
    QLineEdit* m_pNewBits = nullptr;
    QLineEdit* m_pStrength = nullptr;
    // Shown while new keys are made; these controls are grey meanwhile.
    QProgressBar* m_pBusy = nullptr;
    std::vector<QWidget*> m_aIdleControls;
};

} // namespace tiv::ui
