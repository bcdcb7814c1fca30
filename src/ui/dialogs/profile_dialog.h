#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <vector>

#include "app/friends/friend_record.h"
#include "app/program.h"
#include "app/questions.h"
#include "ui/dialogs/key_types_box.h"

namespace tiv::ui {

// "Configure Parcel Box Profiles": the friends' profiles, one shown at a time. Browsing offers the list and
// the commands that pick, make, import or delete a profile; editing offers the fields, until "Save Changes" or
// "Cancel". The app layer checks and stores every record, so nothing reaches the settings that the program
// could not use, and keys change only after the user compared the fingerprints.
class ProfileDialog final : public QDialog {
    Q_OBJECT
public:
    ProfileDialog(app::program& program, app::questions& questions, QWidget* parent = nullptr);

    [[nodiscard]] bool editing() const { return m_bEditing; }

    void newProfile();
    void editProfile();
    void saveChanges();
    void cancelEditing();
    void deleteProfile();
    void importProfile();
    // Open the key editor over this dialog; its OK takes the key.
    void editPublicKey();

private:
    // What the fields show before any profile exists.
    [[nodiscard]] static app::friend_record defaultProfile();
    void buildControls();
    // `damage` says which key of the record cannot be used; the fields show such a record all the same.
    void showProfile(const app::friend_record& profile, const std::string& damage = {});
    void selectProfile(const QString& name);
    void showSelected();
    void setEditing(bool editing);
    void showKey();
    // The shown record with what the fields hold now; false (after saying why) when the port is no number.
    [[nodiscard]] bool readControls(app::friend_record& profile);
    [[nodiscard]] bool confirmKeyChange(const app::friend_record& profile, bool& replace);
    void reloadNames();

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    // The record the fields show: its keys, pin and key types change only through the key editor, the chooser
    // or an import.
    app::friend_record m_oProfile;
    std::string m_sKeyDamage;
    bool m_bEditing = false;

    QListWidget* m_pNames = nullptr;
    // The selected profile's fields, in the order they are shown.
    QCheckBox* m_pReceipt = nullptr;
    QCheckBox* m_pMessages = nullptr;
    QLineEdit* m_pName = nullptr;
    QLineEdit* m_pDirectory = nullptr;
    QLineEdit* m_pAddress = nullptr;
    QLineEdit* m_pPort = nullptr;
    QLineEdit* m_pUuid = nullptr;
    QComboBox* m_pMaxSize = nullptr;
    QComboBox* m_pMaxCount = nullptr;
    KeyTypesBox* m_pKeyTypes = nullptr;
    QPlainTextEdit* m_pKey = nullptr;
    QPalette m_oKeyPalette; // the key's own, for when it is not marked damaged
    QLabel* m_pKeyDamage = nullptr;
    QLineEdit* m_pKeyBits = nullptr;
    QLineEdit* m_pFingerprint = nullptr;
    QLabel* m_pCoverage = nullptr;
    std::vector<QWidget*> m_aEditingControls;
    std::vector<QWidget*> m_aSelectionControls;
};

} // namespace tiv::ui
