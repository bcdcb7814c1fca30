#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QThreadPool>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sys/socket.h>

#include "app/internal/key_service.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/identity_service.h"
#include "app/receive_service.h"
#include "core/unique_fd.h"
#include "integration/peer_process.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/dialogs/key_management_dialog.h"
#include "ui/dialogs/user_settings_dialog.h"
#include "ui/message_style.h"
#include "ui/support/scripted_answers.h"
#include "ui/support/silent_connection.h"

namespace tiv::ui {

namespace {
constexpr int generation_wait_ms = 60000;

} // namespace

// The user settings over Alice's running program: what OK writes, where her listener receives afterwards.
class UserSettingsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_oHome.emplace();
        m_pAlice = std::make_unique<test::test_identity>("Alice");
        test::prepare_peer(*m_pAlice);
        QVERIFY(write_dword_setting(settings().machine_key(), names::interface_ip_port, 0));
        settings().load_settings();
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
        m_pProgram =
            std::make_unique<app::program>(app::program_environment{settings(), m_pAlice->provider()}, *m_pAnswers);
        m_pProgram->start();
        QVERIFY(m_pProgram->incoming().listening());
        m_strStartRoot = m_pProgram->incoming().config().parcel_root;
        openDialog();
    }

    void cleanup() {
        m_pDialog.reset();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        m_pProgram.reset();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_pAlice.reset();
        m_oHome.reset();
    }

    void showsOnlyTheUsableKeyTypesAndOkLeavesTheUsersOwnChoice() {
        const reg::key& machine = settings().machine_key();
        QVERIFY(write_dword_setting(machine, names::enabled_sk_caps, 0xE40));
        QVERIFY(write_dword_setting(machine, names::current_csp_sk_caps, 0xE40));
        QVERIFY(write_dword_setting(settings().user_key(), names::enabled_sk_caps, 0x300));
        settings().load_settings();
        openDialog();
        auto* types = m_pDialog->findChild<QListWidget*>("keyTypesList");
        QCOMPARE(types->count(), 1);
        QCOMPARE(types->item(0)->text(), QString("AES (CBC)  128 bit"));
        QVERIFY(!types->isEnabled() && !button("editKeyTypesButton")->isEnabled());

        const app::identity_summary identity = app::describe_identity(settings(), m_pAlice->provider());
        QCOMPARE(field("keyBitsEdit")->text(), QString::number(identity.key_bits));
        QCOMPARE(field("fingerprintEdit")->text().toStdString(), identity.fingerprint);
        QCOMPARE(field("uuidEdit")->text().toStdString(), m_pAlice->uuid());
        m_pDialog->findChild<QRadioButton*>("signatureKeyRadio")->click();
        QCOMPARE(text("keyText"), app::signature_key_text(m_pAlice->provider(), 32).text);

        button("okButton")->click();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(read_dword_setting(settings().user_key(), names::enabled_sk_caps),
                 std::optional<std::uint32_t>(0x300));
    }

    void aNewRootIsCreatedWithItsParentsStoredAndReceivedInto() {
        const std::string root = m_oHome->path() + "/new/parcels/box";
        m_pAnswers->choose_next(root);
        button("selectDirectoryButton")->click();
        m_pDialog->findChild<QLineEdit*>("userNameEdit")->setText("Alice Liddell");
        button("okButton")->click();

        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QVERIFY(std::filesystem::is_directory(root));
        QCOMPARE(read_text_setting(settings().user_key(), names::parcel_box_directory_root), std::optional(root));
        QCOMPARE(read_text_setting(settings().user_key(), names::user_name),
                 std::optional<std::string>("Alice Liddell"));
        QCOMPARE(m_pProgram->incoming().config().parcel_root, root);
        QVERIFY(m_pProgram->incoming().listening());
    }

    void aRootThatCannotBeMadeIsReportedAndCancelKeepsTheOldSettings() {
        // A plain file where a level must go: no one, not even root, can make a directory below it.
        const std::string blocker = m_oHome->path() + "/plain-file";
        std::ofstream(blocker) << "x";
        const std::string root = blocker + "/box";
        const auto storedName = read_text_setting(settings().user_key(), names::user_name);
        m_pAnswers->choose_next(root);
        button("selectDirectoryButton")->click();
        m_pDialog->findChild<QLineEdit*>("userNameEdit")->setText("Alice Liddell");
        m_pAnswers->answer_next(IDOK);
        button("okButton")->click();

        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{1});
        const auto& box = m_pAnswers->questions_asked().back();
        QCOMPARE(QString::fromStdString(box.caption), QString("Could Not Create!"));
        QVERIFY2(box.text.find(root + " cannot be created: Not a directory") != std::string::npos, box.text.c_str());
        QVERIFY(m_pDialog->isVisible());
        QCOMPARE(m_pProgram->incoming().config().parcel_root, m_strStartRoot);
        QVERIFY(m_pProgram->incoming().listening());

        button("cancelButton")->click();
        QCOMPARE(m_pDialog->result(), int(QDialog::Rejected));
        QCOMPARE(read_text_setting(settings().user_key(), names::parcel_box_directory_root),
                 std::optional(m_strStartRoot));
        QCOMPARE(read_text_setting(settings().user_key(), names::user_name), storedName);
    }

    void anEmptyNameIsRefusedAndCancelWritesNothing() {
        const auto storedName = read_text_setting(settings().user_key(), names::user_name);
        const std::string root = m_oHome->path() + "/never";
        m_pAnswers->choose_next(root);
        button("selectDirectoryButton")->click();
        m_pDialog->findChild<QLineEdit*>("userNameEdit")->clear();
        m_pAnswers->answer_next(IDOK);
        button("okButton")->click();
        QVERIFY(m_pDialog->isVisible());
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{1});
        QVERIFY(m_pAnswers->questions_asked().back().text.find("user name") != std::string::npos);

        button("cancelButton")->click();
        QCOMPARE(m_pDialog->result(), int(QDialog::Rejected));
        QCOMPARE(read_text_setting(settings().user_key(), names::user_name), storedName);
        QCOMPARE(read_text_setting(settings().user_key(), names::parcel_box_directory_root),
                 std::optional(m_strStartRoot));
        QVERIFY(!std::filesystem::exists(root));
        QCOMPARE(m_pProgram->incoming().config().parcel_root, m_strStartRoot);
    }

    void aNewRootWaitsForTheTransfersUnderWay() {
        unique_fd connection = test::silent_connection(m_pProgram->incoming().bound_address());
        QVERIFY(connection);
        QVERIFY(
            test::wait_for([this] { return m_pProgram->incoming().running_count() == 1; }, std::chrono::seconds(5)));
        const std::string root = m_oHome->path() + "/later";
        m_pAnswers->choose_next(root);
        button("selectDirectoryButton")->click();
        m_pAnswers->answer_next(IDOK);
        button("okButton")->click();

        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{1});
        QVERIFY(m_pAnswers->questions_asked().back().text.find("old parcel box root") != std::string::npos);
        QVERIFY(!m_pProgram->apply_pending_restart());
        QCOMPARE(m_pProgram->incoming().config().parcel_root, m_strStartRoot);
        QCOMPARE(m_pProgram->incoming().running_count(), std::size_t{1});

        connection = unique_fd();
        QVERIFY(
            test::wait_for([this] { return m_pProgram->incoming().running_count() == 0; }, std::chrono::seconds(10)));
        QVERIFY(m_pProgram->apply_pending_restart());
        QCOMPARE(m_pProgram->incoming().config().parcel_root, root);
        QVERIFY(m_pProgram->incoming().listening() && !m_pProgram->restart_pending());
    }

    void recreatedKeysAreShownWithTheirNewLength() {
        m_pDialog->findChild<QRadioButton*>("signatureKeyRadio")->click();
        const QString fingerprint = field("fingerprintEdit")->text();
        button("recreateKeysButton")->click();
        auto* keys = m_pDialog->findChild<KeyManagementDialog*>();
        QVERIFY(keys != nullptr && keys->isVisible());
        keys->findChild<QSlider*>("newKeyLengthSlider")
            ->setValue(5);                // 1280 bits: the length question, the weak key one
        for (int i = 0; i < 2 + 2; ++i) { // and the two outcomes
            m_pAnswers->answer_next(IDOK);
        }
        keys->createNewKeys();
        QTRY_VERIFY_WITH_TIMEOUT(!keys->generating(), generation_wait_ms);
        keys->findChild<QPushButton*>("okButton")->click();

        const unsigned made = app::exchange_key_text(m_pAlice->provider(), 0).bits;
        QVERIFY(made != 0 && made != 1024);
        QVERIFY(m_pDialog->findChild<QRadioButton*>("authenticationKeyRadio")->isChecked());
        QCOMPARE(field("keyBitsEdit")->text(), QString::number(made));
        QCOMPARE(text("keyText"), app::exchange_key_text(m_pAlice->provider(), 32).text);
        QVERIFY(field("fingerprintEdit")->text() != fingerprint);
    }

private:
    qvl_settings_data& settings() { return m_pAlice->settings(); }

    void openDialog() {
        m_pDialog = std::make_unique<UserSettingsDialog>(*m_pProgram, *m_pAnswers);
        m_pDialog->open();
    }

    QPushButton* button(const char* name) const { return m_pDialog->findChild<QPushButton*>(name); }
    QLineEdit* field(const char* name) const { return m_pDialog->findChild<QLineEdit*>(name); }
    // A text control's content with the line breaks the core writes.
    std::string text(const char* name) const {
        return m_pDialog->findChild<QPlainTextEdit*>(name)->toPlainText().replace('\n', "\r\n").toStdString();
    }

    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pAlice;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<app::program> m_pProgram;
    std::string m_strStartRoot;
    std::unique_ptr<UserSettingsDialog> m_pDialog;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::UserSettingsDialogTest)
#include "user_settings_dialog_test.moc"
