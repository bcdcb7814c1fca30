#pragma once

#include <QDialog>
#include <QPlainTextEdit>

#include "app/questions.h"

namespace tiv::ui {

// "Edit Public Key": a friend's public key as hex text, typed, pasted or loaded from a file. "Done" accepts the
// text as it stands; the profile dialog decodes it.
class EditPublicKey final : public QDialog {
    Q_OBJECT
public:
    EditPublicKey(app::questions& questions, const QString& text, QWidget* parent = nullptr);

    [[nodiscard]] QString text() const { return m_pText->toPlainText(); }

private:
    void loadFile();

    app::questions& m_oQuestions;
    QPlainTextEdit* m_pText = nullptr;
};

} // namespace tiv::ui
