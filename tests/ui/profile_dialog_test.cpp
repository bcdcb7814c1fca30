#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <optional>
#include <utility>

#include "app/friends/friend_form.h"
#include "app/internal/friend_records.h"
#include "app/internal/profile_service.h"
#include "settings/profile_file.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/dialogs/profile_dialog.h"
#include "ui/dialogs/public_key_editor.h"
#include "ui/dialogs/session_key_options_dialog.h"
#include "ui/message_style.h"
#include "ui/qt_questions.h"
#include "ui/support/control_ids.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
// The controls each state enables, as the old dialog's ids name them.
constexpr int editing_ids[] = {1021, 1011, 1012, 1030, 1054, 1044, 1013, 1017, 1018, 1016, 1031};
constexpr int selection_ids[] = {1019, 1020, 1022, 1062, 1009, 1};

// `who` as a friend would store them, reachable, so the dialog's checks let them be saved again.
app::friend_record reachable(const test::test_identity& who, bool pinned = false) {
    app::friend_record record = app::record_of(who.as_friend(0xE40, pinned));
    record.port = 20000;
    return record;
}

std::string fingerprintOf(qvl_settings_data& settings, const std::string& name) {
    const auto stored = app::read_friend(settings, name);
    return stored ? app::friend_fingerprint(*stored) : std::string();
}
} // namespace

// Bob's friend profiles: Alice (pinned) and Carol (legacy) are stored; Dave and a Carol with new keys send files.
class ProfileDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_pDave = std::make_unique<test::test_identity>("Dave");
        m_pNewCarol = std::make_unique<test::test_identity>("Carol");
    }

    void cleanupTestCase() {
        m_pDave.reset();
        m_pNewCarol.reset();
    }

    void init() {
        m_oHome.emplace();
        m_pBob = std::make_unique<test::test_identity>("Bob");
        m_pAlice = std::make_unique<test::test_identity>("Alice");
        m_pCarol = std::make_unique<test::test_identity>("Carol");
        QVERIFY(save_profile(m_pBob->settings(), app::profile_of(reachable(*m_pAlice, true))));
        QVERIFY(save_profile(m_pBob->settings(), app::profile_of(reachable(*m_pCarol))));
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
        m_pDialog = std::make_unique<ProfileDialog>(m_pBob->program(), *m_pAnswers);
    }

    void cleanup() {
        m_pDialog.reset();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_pBob.reset();
        m_pAlice.reset();
        m_pCarol.reset();
        m_oHome.reset();
    }

    void eachStateEnablesItsOwnControlsAndEditingKeepsTheName() {
        verifyBrowsing();
        QVERIFY(!control("keyBitsEdit")->isEnabled());
        click("editButton");
        for (const int id : editing_ids) {
            QVERIFY2(controlWithId(id)->isEnabled() == (id != 1011), nameOf(id));
        }
        for (const int id : selection_ids) {
            QVERIFY2(!controlWithId(id)->isEnabled(), nameOf(id));
        }
        QVERIFY(!control("keyBitsEdit")->isEnabled());
        click("cancelButton");
        verifyBrowsing();
        click("newButton");
        QVERIFY(control("profileNameEdit")->isEnabled());
        QCOMPARE(edit("profileNameEdit")->text(), QString("New Profile"));
    }

    void limitsOutsideTheListShowAndSaveAsUnlimited() {
        app::friend_record carol = reachable(*m_pCarol);
        carol.max_file_size = 50000;
        carol.max_file_count = 7;
        QVERIFY(save_profile(m_pBob->settings(), app::profile_of(carol)));
        selectFriend("Carol");
        QCOMPARE(combo("maxSizeCombo")->currentText(), QString("unlimited"));
        QCOMPARE(combo("maxCountCombo")->currentText(), QString("unlimited"));
        click("editButton");
        combo("maxCountCombo")->setCurrentIndex(1);
        click("saveButton");
        const auto stored = app::read_friend(m_pBob->settings(), "Carol");
        QVERIFY(stored);
        QCOMPARE(stored->max_file_size, app::unlimited);
        QCOMPARE(stored->max_file_count, 100U);
    }

    void theChosenKeyTypesAreSavedAsChosen() {
        selectFriend("Carol"); // 0xE40
        click("editButton");
        click("editKeyTypesButton");
        auto* chooser = m_pDialog->findChild<SessionKeyOptionsDialog*>();
        QVERIFY(chooser != nullptr);
        chooser->box(0x200)->click();
        chooser->findChild<QPushButton*>("okButton")->click();
        QCOMPARE(qobject_cast<QListWidget*>(control("keyTypesList"))->count(), 3);
        click("saveButton");
        const auto stored = app::read_friend(m_pBob->settings(), "Carol");
        QVERIFY(stored);
        QCOMPARE(stored->key_types, 0xC40U);
    }

    void deleteAsksFirstAndNoKeepsTheFriend() {
        selectFriend("Carol");
        m_pAnswers->answer_next(IDNO);
        click("deleteButton");
        QVERIFY(app::read_friend(m_pBob->settings(), "Carol"));
        QCOMPARE(m_pAnswers->questions_asked().back().text, std::string("Delete the profile Carol?"));
        m_pAnswers->answer_next(IDYES);
        click("deleteButton");
        QVERIFY(!app::read_friend(m_pBob->settings(), "Carol"));
        QCOMPARE(names(), QStringList{"Alice"});
    }

    void cancelLeavesTheSettingsAsTheyWere() {
        selectFriend("Carol");
        click("editButton");
        edit("addressEdit")->setText("elsewhere.example");
        click("cancelButton");
        click("newButton");
        edit("profileNameEdit")->setText("Erin");
        click("cancelButton");
        const auto stored = app::read_friend(m_pBob->settings(), "Carol");
        QVERIFY(stored);
        QCOMPARE(stored->address, reachable(*m_pCarol).address);
        QVERIFY(!app::read_friend(m_pBob->settings(), "Erin"));
    }

    void importedFriendIsStoredOnSaveWithTheFingerprintShown() {
        importFile(writeProfile(*m_pDave, "Dave", true), "Accept files up to 100 MB");
        QVERIFY(m_pDialog->editing());
        const std::string expected = app::friend_fingerprint(reachable(*m_pDave, true));
        QCOMPARE(edit("fingerprintEdit")->text().toStdString(), expected);
        click("saveButton");
        QCOMPARE(fingerprintOf(m_pBob->settings(), "Dave"), expected);
        // A new friend's first question decides whether they may send.
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{0});
        const auto dave = app::read_friend(m_pBob->settings(), "Dave");
        QVERIFY(dave && dave->receipt_enabled);
        QCOMPARE(dave->max_file_size, 100'000'000U);
        QCOMPARE(dave->max_file_count, app::unlimited);
        QCOMPARE(names(), QStringList({"Alice", "Carol", "Dave"}));
        // The chooser it came through names each filter once, with its patterns.
        QCOMPARE(qtFilterText(app::import_profile_chooser().filters), QString("Profile Files (*.prf);;All Files (*)"));
    }

    void importWithAUuidAlreadyHeldIsRefusedNamingTheHolder() {
        importFile(writeProfile(*m_pAlice, "Alicia", true), std::nullopt);
        m_pAnswers->answer_next(IDOK);
        click("saveButton");
        const std::string& refusal = m_pAnswers->questions_asked().back().text;
        QVERIFY2(refusal.find("'Alice'") != std::string::npos, refusal.c_str());
        QVERIFY(m_pDialog->editing());
        QVERIFY(!app::read_friend(m_pBob->settings(), "Alicia"));
    }

    void changedKeysShowBothFingerprintsAndNeedAYes() {
        const std::string before = fingerprintOf(m_pBob->settings(), "Carol");
        const std::string after = app::friend_fingerprint(reachable(*m_pNewCarol, true));
        m_pAnswers->answer_next(IDOK); // the name is in the database already
        importFile(writeProfile(*m_pNewCarol, "Carol", true));
        m_pAnswers->answer_next(IDNO);
        click("saveButton");
        const std::string& question = m_pAnswers->questions_asked().back().text;
        QVERIFY2(question.find(before) != std::string::npos && question.find(after) != std::string::npos,
                 question.c_str());
        QCOMPARE(fingerprintOf(m_pBob->settings(), "Carol"), before);
        m_pAnswers->answer_next(IDYES);
        click("saveButton");
        QCOMPARE(fingerprintOf(m_pBob->settings(), "Carol"), after);
    }

    void fileWithoutASignatureKeyKeepsTheStoredPin() {
        const std::string pinned = fingerprintOf(m_pBob->settings(), "Alice");
        m_pAnswers->answer_next(IDOK);
        importFile(writeProfile(*m_pAlice, "Alice", false));
        const std::string& warning = m_pAnswers->questions_asked().back().text;
        QVERIFY(warning.starts_with("The profile name <Alice> is already in the database.\nIf you save") &&
                warning.find("stays pinned") != std::string::npos);
        click("saveButton");
        QCOMPARE(fingerprintOf(m_pBob->settings(), "Alice"), pinned);
        QCOMPARE(control("fingerprintCoverageLabel")->property("text").toString(),
                 QString("pinned: exchange and signature keys"));
    }

    void keyEditorLoadsAFileAndDoneDecodesIt() {
        std::string key;
        QVERIFY(m_pDave->provider().exchange_key_text(0, key) != 0);
        const std::string path = m_oHome->path() + "/dave.pk";
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(key.c_str()) > 0);
        file.close();
        selectFriend("Carol");
        click("editButton");
        click("editKeyButton");
        auto* editor = m_pDialog->findChild<EditPublicKey*>();
        QVERIFY(editor != nullptr);
        m_pAnswers->choose_next(path);
        QTest::mouseClick(editor->findChild<QPushButton*>("loadFileButton"), Qt::LeftButton);
        QTest::mouseClick(editor->findChild<QPushButton*>("doneButton"), Qt::LeftButton);
        QCOMPARE(edit("keyBitsEdit")->text(), QString("1024"));
        const QStringList lines = qobject_cast<QPlainTextEdit*>(control("keyText"))->toPlainText().split('\n');
        QCOMPARE(lines.size(), (static_cast<int>(key.size()) / 2 + 15) / 16);
        QCOMPARE(lines.front().trimmed().size(), 32);
        QCOMPARE(edit("fingerprintEdit")->text().toStdString(), app::friend_fingerprint(reachable(*m_pDave)));
    }

    // Beth's stored key data disagree with their bit count; she sits between Alice and Carol.
    void aDamagedFriendIsShownAndOnlyTheHighlightedOneIsActedOn() {
        app::friend_record beth = reachable(*m_pDave);
        app::set_friend_name(beth, "Beth");
        beth.key_bits = 512;
        QVERIFY(save_profile(m_pBob->settings(), app::profile_of(beth)));
        m_pDialog = std::make_unique<ProfileDialog>(m_pBob->program(), *m_pAnswers);
        auto* list = qobject_cast<QListWidget*>(control("profileNamesList"));
        const std::pair<Qt::Key, QString> moves[] = {
            {Qt::Key_Down, "Beth"}, {Qt::Key_Down, "Carol"}, {Qt::Key_Up, "Beth"}};
        for (const auto& [key, name] : moves) {
            QTest::keyClick(list, key);
            QCOMPARE(edit("profileNameEdit")->text(), name);
            QCOMPARE(control("keyDamageLabel")->property("text").toString().isEmpty(), name == "Carol");
        }
        QVERIFY(
            control("keyDamageLabel")->property("text").toString().startsWith("The stored exchange key of Beth does"));
        click("editButton");
        edit("addressEdit")->setText("beth.example");
        click("editKeyButton");
        auto* editor = m_pDialog->findChild<EditPublicKey*>();
        editor->findChild<QPlainTextEdit*>("keyText")->setPlainText(QString::fromStdString(app::friend_key_text(beth)));
        QTest::mouseClick(editor->findChild<QPushButton*>("doneButton"), Qt::LeftButton);
        click("saveButton");
        const auto saved = app::read_friend(m_pBob->settings(), "Beth");
        QVERIFY(saved && saved->address == "beth.example");
        m_pAnswers->answer_next(IDYES);
        click("deleteButton");
        QCOMPARE(names(), QStringList({"Alice", "Carol"}));
        QCOMPARE(edit("profileNameEdit")->text(), list->currentItem()->text());
    }

private:
    QWidget* control(const char* name) const {
        auto* found = m_pDialog->findChild<QWidget*>(name);
        if (found == nullptr) {
            qFatal("no control %s", name);
        }
        return found;
    }
    const char* nameOf(int id) const {
        const char* name = test::control_name(m_pDialog->objectName().toStdString(), id);
        if (name == nullptr) {
            qFatal("no control with id %d", id);
        }
        return name;
    }
    QWidget* controlWithId(int id) const { return control(nameOf(id)); }
    QLineEdit* edit(const char* name) const { return qobject_cast<QLineEdit*>(control(name)); }
    QComboBox* combo(const char* name) const { return qobject_cast<QComboBox*>(control(name)); }
    void click(const char* name) const { QTest::mouseClick(qobject_cast<QPushButton*>(control(name)), Qt::LeftButton); }

    QStringList names() const {
        auto* list = qobject_cast<QListWidget*>(control("profileNamesList"));
        QStringList shown;
        for (int row = 0; row < list->count(); ++row) {
            shown << list->item(row)->text();
        }
        return shown;
    }

    void selectFriend(const QString& name) const {
        auto* list = qobject_cast<QListWidget*>(control("profileNamesList"));
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).front());
    }

    void verifyBrowsing() const {
        for (const int id : editing_ids) {
            QVERIFY2(!controlWithId(id)->isEnabled(), nameOf(id));
        }
        for (const int id : selection_ids) {
            QVERIFY2(controlWithId(id)->isEnabled(), nameOf(id));
        }
    }

    // The profile file of `who` under `name`, with or without the signature key.
    std::string writeProfile(test::test_identity& who, const std::string& name, bool withSignature) const {
        std::string key;
        std::string signature;
        if (who.provider().exchange_key_text(0, key) == 0 ||
            (withSignature && who.provider().signature_key_text(signature, 0) == 0)) {
            qFatal("no keys to export");
        }
        const std::string path = m_oHome->path() + "/friend.prf";
        if (!write_profile_file(path, name, who.uuid(), "localhost", 20000, key, signature)) {
            qFatal("cannot write %s", path.c_str());
        }
        return path;
    }

    void importFile(const std::string& path) {
        m_pAnswers->choose_next(path);
        click("importButton");
    }

    // A friend not stored yet: the file, then the answer to whether they may send (none: the question cancelled).
    void importFile(const std::string& path, const std::optional<std::string>& acceptance) {
        m_pAnswers->choose_next(path);
        m_pAnswers->choose_next(acceptance);
        click("importButton");
    }

    std::unique_ptr<test::test_identity> m_pDave;
    std::unique_ptr<test::test_identity> m_pNewCarol;
    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pBob;
    std::unique_ptr<test::test_identity> m_pAlice;
    std::unique_ptr<test::test_identity> m_pCarol;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<ProfileDialog> m_pDialog;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::ProfileDialogTest)
#include "profile_dialog_test.moc"
