#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QString>

#include "app/program.h"

namespace tiv::ui {

// The user's two public keys, one at a time: two radio buttons choose which, a fixed-pitch box shows it as hex (32
// bytes a line) and a field its length. Made by the key management dialog and the user settings, which lay the
// parts out as each needs; the parts belong to `parent`.
class OwnKeyView final : public QObject {
public:
    OwnKeyView(app::program& program, const QString& exchangeLabel, const QString& signatureLabel, QWidget* parent);

    [[nodiscard]] QRadioButton* exchangeChoice() const { return m_pExchangeChoice; }
    [[nodiscard]] QRadioButton* signatureChoice() const { return m_pSignatureChoice; }
    [[nodiscard]] QPlainTextEdit* keyText() const { return m_pKeyText; }
    [[nodiscard]] QLineEdit* keyBits() const { return m_pKeyBits; }

    // A key just replaced: it is chosen and read again, even when it was the one shown.
    void showAfresh(bool signature);

private:
    void show(bool signature);

    app::program& m_oProgram;
    QRadioButton* m_pExchangeChoice;
    QRadioButton* m_pSignatureChoice;
    QPlainTextEdit* m_pKeyText;
    QLineEdit* m_pKeyBits;
};

} // namespace tiv::ui
