#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/program.h"
#include "app/questions.h"
#include "app/settings/user_settings.h"
#include "ui/dialogs/background_options_box.h"
#include "ui/dialogs/own_key_view.h"

namespace tiv::ui {

// "User Settings": the user's name and parcel box root, the session key types they can use, their UUID, public
// keys and fingerprint, the way to new keys, and whether the program keeps receiving in the background and starts
// at login. OK writes them and moves the running listener to a new root; Cancel and the close box write nothing.
// Opened with open(): the opener hears finished().
class UserSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    UserSettingsDialog(app::program& program, app::questions& questions, QWidget* parent = nullptr);

    // "Select...": the folder chooser; a folder chosen becomes the reception directory.
    void selectDirectory();
    // "Recreate RSA Keys": the key management dialog over this one; its end shows the keys afresh.
    void recreateKeys();

    void accept() override;

private:
    void showFingerprint(const app::user_settings_view& view);

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    OwnKeyView* m_pKeys = nullptr;
    QLineEdit* m_pFingerprint = nullptr;
    QLabel* m_pCoverage = nullptr;
    QLineEdit* m_pDirectory = nullptr;
    QLineEdit* m_pUserName = nullptr;
    QLineEdit* m_pUuid = nullptr;
    BackgroundOptionsBox* m_pBackground = nullptr;
};

} // namespace tiv::ui
