#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QThreadPool>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "platform/key_container.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/dialogs/key_management_dialog.h"
#include "ui/dialogs/session_key_options_dialog.h"
#include "ui/message_style.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
constexpr int generation_wait_ms = 60000;
using cryptoapi::key_pair_kind;

std::string keyFilePath(test::test_identity& user, key_pair_kind kind) {
    cryptoapi::key_container container;
    (void)cryptoapi::key_container::open_in(user.provider().key_root(), crypto_provider::default_container_name,
                                            container);
    return container.key_file_path(kind);
}

// What replacing the keys changes: both key files and the fingerprints kept in the user settings.
std::string keyState(test::test_identity& user) {
    std::ostringstream state;
    for (const auto kind : {key_pair_kind::signature, key_pair_kind::exchange}) {
        state << std::ifstream(keyFilePath(user, kind), std::ios::binary).rdbuf() << '|';
    }
    return state.str() + read_text_setting(user.settings().user_key(), "KeyFingerprints").value_or("");
}
} // namespace

class KeyDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_oHome.emplace();
        m_pUser = std::make_unique<test::test_identity>("Alice");
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
    }

    void cleanup() {
        // A generation a failed check left running must end before its user's files go.
        m_pDialog.reset();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_pUser.reset();
        m_oHome.reset();
    }

    void keyTypeBoxesFollowTheTwoMasks_data() {
        QTest::addColumn<uint>("mayChoose");
        QTest::addColumn<uint>("chosen");
        QTest::newRow("provider's types, AES 256 chosen") << 0xE40U << 0x800U;
        QTest::newRow("every type, the DES family chosen") << 0xFFFU << 0x064U;
        QTest::newRow("a chosen type no longer allowed") << 0x200U << 0x201U;
    }

    void keyTypeBoxesFollowTheTwoMasks() {
        QFETCH(uint, mayChoose);
        QFETCH(uint, chosen);
        SessionKeyOptionsDialog dialog(mayChoose, chosen, *m_pAnswers);
        for (std::uint32_t bit = 1; bit <= 0x800; bit <<= 1) {
            QCOMPARE(dialog.box(bit)->isEnabled(), (mayChoose & bit) != 0);
            QCOMPARE(dialog.box(bit)->isChecked(), (chosen & bit) != 0);
        }
    }

    void okReturnsTheChoiceCancelNothingAndAnEmptyChoiceIsConfirmed() {
        SessionKeyOptionsDialog dialog(0xE40, 0x800, *m_pAnswers);
        dialog.show();
        for (std::uint32_t bit : {0x800U, 0x200U, 0x100U}) { // 0x100 is not offered: stays off
            dialog.box(bit)->click();
        }
        dialog.findChild<QPushButton*>("okButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), std::uint32_t{0x200});

        dialog.show();
        dialog.box(0x200)->click();
        m_pAnswers->answer_next(IDNO);
        dialog.findChild<QPushButton*>("okButton")->click();
        QVERIFY(dialog.isVisible());
        m_pAnswers->answer_next(IDYES);
        dialog.findChild<QPushButton*>("okButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), std::uint32_t{0});

        dialog.show();
        dialog.findChild<QPushButton*>("cancelButton")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void cancelAtAnyQuestionMakesNothing_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("cancelAt"); // the question answered Cancel, counted from 1
        QTest::newRow("2048 bits, the only question") << 8 << 1;
        QTest::newRow("1792 bits, the weak key question") << 7 << 2;
        QTest::newRow("4352 bits, the slow key question") << 17 << 2;
    }

    void cancelAtAnyQuestionMakesNothing() {
        QFETCH(int, step);
        QFETCH(int, cancelAt);
        const std::string before = keyState(*m_pUser);
        startKeys(step, cancelAt - 1);
        m_pAnswers->answer_next(IDCANCEL);
        m_pDialog->createNewKeys();
        QVERIFY(!m_pDialog->generating());
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t(cancelAt));
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(keyState(*m_pUser), before);
    }

    void keysAreMadeOnAWorkerAndTheBitsMadeReported() {
        const std::string before = keyState(*m_pUser);
        startKeys(4, 2 + 2); // two questions, then the two outcomes
        m_pDialog->createNewKeys();
        // Back on the window thread before the keys exist: they are being made elsewhere.
        QVERIFY(m_pDialog->generating());
        QVERIFY(m_pDialog->findChild<QProgressBar*>("busyBar")->isVisible());
        QVERIFY(!m_pDialog->findChild<QPushButton*>("okButton")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!m_pDialog->generating(), generation_wait_ms);

        const auto& asked = m_pAnswers->questions_asked();
        const auto made = [this](bool signature) {
            app::program& program = m_pUser->program();
            return std::to_string(
                (signature ? app::signature_key_text(program, 0) : app::exchange_key_text(program, 0)).bits);
        };
        QVERIFY(asked.at(2).text.starts_with("Signature Key of " + made(true) + " bits required"));
        QVERIFY(asked.at(3).text.starts_with("Key Exchange Key of " + made(false) + " bits required"));
        QVERIFY(asked.at(3).text.find("new profile") != std::string::npos);
        QCOMPARE((asked.at(2).style | asked.at(3).style) & MB_ICONERROR, 0U);
        QVERIFY(keyState(*m_pUser) != before);
    }

    void aPairThatCannotBeStoredIsReportedAsAFailure() {
        // Directories where the key files go: no new file can take their place, whoever runs the test.
        for (const auto kind : {key_pair_kind::signature, key_pair_kind::exchange}) {
            const std::string path = keyFilePath(*m_pUser, kind);
            std::filesystem::remove(path);
            std::filesystem::create_directory(path);
        }
        const std::string before = keyState(*m_pUser);
        startKeys(8, 1 + 2);
        m_pDialog->createNewKeys();
        QTRY_VERIFY_WITH_TIMEOUT(!m_pDialog->generating(), generation_wait_ms);
        for (std::size_t i : {1U, 2U}) {
            const auto& outcome = m_pAnswers->questions_asked().at(i);
            QVERIFY(outcome.text.find("required") == std::string::npos);
            QCOMPARE(outcome.style & MB_ICONERROR, unsigned(MB_ICONERROR));
        }
        QCOMPARE(keyState(*m_pUser), before);
    }

    void closingWhileKeysAreMadeIsSafe() {
        const std::string before = keyState(*m_pUser);
        startKeys(8, 1);
        m_pDialog->createNewKeys();
        m_pDialog->reject(); // refused: the outcome must be seen
        QVERIFY(m_pDialog->isVisible());
        m_pDialog.reset();
        // The worker finishes alone; its outcome goes nowhere.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{1});
        QVERIFY(keyState(*m_pUser) != before);
    }

private:
    // The key management dialog shown at slider `step`, with `oks` questions to be answered OK.
    void startKeys(int step, int oks) {
        m_pDialog = std::make_unique<KeyManagementDialog>(m_pUser->program(), *m_pAnswers);
        m_pDialog->show();
        m_pDialog->findChild<QSlider*>("newKeyLengthSlider")->setValue(step);
        for (int i = 0; i < oks; ++i) {
            m_pAnswers->answer_next(IDOK);
        }
    }

    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pUser;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<KeyManagementDialog> m_pDialog;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::KeyDialogsTest)
#include "key_dialogs_test.moc"
