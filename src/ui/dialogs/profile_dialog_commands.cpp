// The commands of the profile dialog: each one the user starts with a button.
#include <algorithm>

#include "app/friends/friend_form.h"
#include "app/friends/profile_service.h"
#include "app/settings/program_options.h"
#include "ui/dialogs/profile_dialog.h"
#include "ui/dialogs/public_key_editor.h"
#include "ui/message_style.h"

namespace tiv::ui {

namespace {
constexpr const char* import_caption = "Importing Profile...";
} // namespace

// A new friend starts as a copy of the one shown, but never with that friend's pin: the new friend could never
// sign with someone else's key.
void ProfileDialog::newProfile() {
    app::friend_record profile;
    if (!readControls(profile)) {
        return;
    }
    profile.signature_key.clear();
    profile.receipt_enabled = false;
    app::set_friend_name(profile, "New Profile");
    showProfile(profile);
    setEditing(true);
}

// The name is where the profile is stored, so an edit keeps it; with no friend highlighted there is none to edit.
void ProfileDialog::editProfile() {
    if (m_pNames->currentItem() == nullptr) {
        return;
    }
    setEditing(true);
    m_pName->setEnabled(false);
}

// The fields go back to the highlighted friend, so nothing typed for another one stays beside its name.
void ProfileDialog::cancelEditing() {
    setEditing(false);
    showSelected();
}

void ProfileDialog::saveChanges() {
    // A record whose key cannot be used would be refused anyway; saying which key lets the user mend it first.
    if (!m_sKeyDamage.empty()) {
        (void)m_oQuestions.ask(m_sKeyDamage +
                                   "\nGive the friend's key with the key's \"Edit\", or import their profile "
                                   "file again, before you save.",
                               "Save Profile", MB_OK | MB_ICONERROR);
        return;
    }
    app::friend_record profile;
    if (!readControls(profile)) {
        return;
    }
    if (const app::status address = app::check_friend_address(profile.address); !address) {
        (void)m_oQuestions.ask("Give the friend's Internet address: a host name, a dotted IPv4 or an IPv6 address of "
                               "at most 31 characters. " +
                                   sentenceText(address.text()),
                               "Save Profile", MB_OK | MB_ICONERROR);
        return;
    }
    bool replace = false;
    if (!confirmKeyChange(profile, replace)) {
        return;
    }
    const auto stored = app::store_friend(
        m_oProgram, profile, replace ? app::key_consent::replace_keys : app::key_consent::keep_stored_keys);
    if (!stored) {
        (void)m_oQuestions.ask(sentenceText(stored.error().text()), "Save Profile", MB_OK | MB_ICONERROR);
        return;
    }
    setEditing(false);
    showProfile(stored->record);
    selectProfile(QString::fromStdString(stored->record.name));
}

// Keys change only with a yes, after the user saw the fingerprint they must compare with the friend's own.
bool ProfileDialog::confirmKeyChange(const app::friend_record& profile, bool& replace) {
    const std::optional<app::key_change> change = app::find_key_change(m_oProgram, profile);
    if (!change) {
        return true;
    }
    const std::string text = "The keys differ from the keys stored for " + change->name +
                             ".\n\nStored: " + change->old_fingerprint + " (" + change->old_coverage +
                             ")\nNew: " + change->new_fingerprint + " (" + change->new_coverage +
                             ")\n\nCompare the new " + "fingerprint with " + change->name +
                             "'s own before you replace the keys. Replace them?";
    replace = m_oQuestions.ask(text, "Replace Keys", MB_YESNO | MB_ICONWARNING) == IDYES;
    return replace;
}

void ProfileDialog::deleteProfile() {
    const QListWidgetItem* selected = m_pNames->currentItem();
    if (selected == nullptr) {
        return;
    }
    const std::string name = selected->text().toStdString();
    // The friend's keys go with the profile, and only the friend can give them again.
    if (m_oQuestions.ask("Delete the profile " + name + "?", "Deleting Profile", MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    if (const app::status deleted = app::delete_friend(m_oProgram, name); !deleted) {
        (void)m_oQuestions.ask(deleted.text(), "Deleting Profile", MB_OK | MB_ICONERROR);
        return;
    }
    // The row that takes the deleted one's place is highlighted and shown, so the fields never show a friend
    // that is gone.
    const int row = m_pNames->row(selected);
    const QSignalBlocker quiet(m_pNames);
    delete m_pNames->takeItem(row);
    if (m_pNames->count() == 0) {
        showProfile(defaultProfile());
        return;
    }
    m_pNames->setCurrentRow(std::min(row, m_pNames->count() - 1));
    showSelected();
}

// The file is read and checked here; it is stored only by "Save Changes", which checks it again with the user's
// changes and asks before any key is replaced.
void ProfileDialog::importProfile() {
    const std::optional<std::string> path = m_oQuestions.choose_open_file(app::import_profile_chooser());
    if (!path) {
        return;
    }
    const auto loaded = app::load_profile_file(m_oProgram, *path);
    if (!loaded) {
        const bool unreadable = loaded.error().code() == app::status_code::not_found;
        (void)m_oQuestions.ask((unreadable ? "Could not open the requested file!\n" : "") +
                                   sentenceText(loaded.error().text()),
                               import_caption, MB_OK | MB_ICONERROR);
        return;
    }
    const app::friend_record& record = loaded->record;
    std::string notes;
    for (const std::string& warning : loaded->warnings) {
        notes += sentenceText(warning) + "\n";
    }
    const auto existing = app::read_friend(m_oProgram, record.name);
    if (existing || existing.error().code() != app::status_code::not_found) {
        notes += app::profile_name_taken(record.name) +
                 "\nIf you save the imported profile you will overwrite the existing record.";
        if (existing && existing->pinned() && !record.pinned()) {
            notes += "\nThe stored profile is pinned to its signature key and stays pinned.";
        }
        (void)m_oQuestions.ask(notes, "Existing Profile", MB_OK | MB_ICONWARNING);
    } else if (!notes.empty()) {
        (void)m_oQuestions.ask(notes, import_caption, MB_OK | MB_ICONWARNING);
    }
    app::friend_record shown = record;
    if (!existing && existing.error().code() == app::status_code::not_found) {
        // A new friend refused every parcel until the user found three settings: the first question asks.
        std::vector<std::string> labels;
        for (const app::acceptance_choice& choice : app::acceptance_choices()) {
            labels.push_back(choice.label);
        }
        const std::optional<std::string> chosen =
            m_oQuestions.choose_one("Accept parcels from " + record.name + "?", "Accepting Parcels", labels);
        for (const app::acceptance_choice& choice : app::acceptance_choices()) {
            if (chosen == choice.label) {
                app::apply_friend_policy(choice.policy, shown);
            }
        }
    }
    showProfile(shown);
    setEditing(true);
}

// Both dialogs are window-modal and report back on closing, so no command waits in an event loop of its own.
void ProfileDialog::editPublicKey() {
    auto* editor = new EditPublicKey(m_oQuestions, m_pKey->toPlainText(), this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::accepted, this, [this, editor] {
        app::set_friend_key_text(m_oProfile, editor->text().toStdString());
        m_sKeyDamage = app::friend_key_damage(m_oProfile);
        showKey();
    });
    editor->open();
}

} // namespace tiv::ui
