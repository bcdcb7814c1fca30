#include <QLineEdit>
#include <QPlainTextEdit>
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
#include "ui/key_management_dialog.h"
#include "ui/session_key_options_dialog.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
constexpr int generation_wait_ms = 60000;

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Everything a replacement of the keys changes: both key files and the fingerprints kept in the user settings.
struct KeyState {
    std::string signature_file;
    std::string exchange_file;
    std::string fingerprints;
    bool operator==(const KeyState&) const = default;
};

std::string keyFilePath(test::test_identity& user, cryptoapi::key_pair_kind kind) {
    cryptoapi::key_container container;
    if (!cryptoapi::key_container::open_in(user.provider().key_root(), crypto_provider::default_container_name,
                                           container)) {
        return {};
    }
    return container.key_file_path(kind);
}

KeyState keyState(test::test_identity& user) {
    return {fileText(keyFilePath(user, cryptoapi::key_pair_kind::signature)),
            fileText(keyFilePath(user, cryptoapi::key_pair_kind::exchange)),
            read_text_setting(user.settings().user_key(), "KeyFingerprints").value_or("")};
}

QString field(const QDialog& dialog, const char* name) {
    return dialog.findChild<QLineEdit*>(name)->text();
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
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(m_pAnswers->unusedAnswers(), std::size_t{0});
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

    void okReturnsTheChoiceAndCancelNothing() {
        SessionKeyOptionsDialog chooser(0xE40, 0x800, *m_pAnswers);
        chooser.box(0x800)->click();
        chooser.box(0x200)->click();
        chooser.box(0x100)->click(); // not offered by the provider: stays as it was
        chooser.findChild<QPushButton*>("id1")->click();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QCOMPARE(chooser.chosen(), std::uint32_t{0x200});

        SessionKeyOptionsDialog cancelled(0xE40, 0x800, *m_pAnswers);
        cancelled.box(0x040)->click();
        cancelled.findChild<QPushButton*>("id2")->click();
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    }

    void anEmptyChoiceIsTakenOnlyWhenConfirmed() {
        SessionKeyOptionsDialog dialog(0xE40, 0x800, *m_pAnswers);
        dialog.show();
        dialog.box(0x800)->click();
        m_pAnswers->answerNext(IDNO);
        dialog.findChild<QPushButton*>("id1")->click();
        QVERIFY(dialog.isVisible());
        m_pAnswers->answerNext(IDYES);
        dialog.findChild<QPushButton*>("id1")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), std::uint32_t{0});
        QCOMPARE(m_pAnswers->asked_so_far().size(), std::size_t{2});
    }

    void opensOnTheExchangeKeyWithTheLengthAndStrength() {
        KeyManagementDialog dialog(m_pUser->settings(), m_pUser->provider(), *m_pAnswers);
        const app::public_key_text exchange = app::exchange_key_text(m_pUser->provider(), 32);
        QCOMPARE(field(dialog, "currentKeyBits"), QString::number(exchange.bits));
        const QStringList lines = dialog.findChild<QPlainTextEdit*>("keyText")->toPlainText().split('\n');
        QVERIFY(lines.size() > 1);
        QCOMPARE(lines.front().size(), 64);
        QCOMPARE(field(dialog, "uuid"), QString::fromStdString(m_pUser->uuid()));
        QCOMPARE(field(dialog, "keyBits"), QString("3072"));
        QCOMPARE(field(dialog, "estimatedStrength"), QString("130"));
        dialog.findChild<QSlider*>("newKeyLength")->setValue(8);
        QCOMPARE(field(dialog, "keyBits"), QString("2048"));
        QCOMPARE(field(dialog, "estimatedStrength"), QString("109"));
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
        const KeyState before = keyState(*m_pUser);
        KeyManagementDialog dialog(m_pUser->settings(), m_pUser->provider(), *m_pAnswers);
        dialog.findChild<QSlider*>("newKeyLength")->setValue(step);
        for (int i = 1; i < cancelAt; ++i) {
            m_pAnswers->answerNext(IDOK);
        }
        m_pAnswers->answerNext(IDCANCEL);
        dialog.createNewKeys();
        QVERIFY(!dialog.generating());
        QCOMPARE(m_pAnswers->asked_so_far().size(), std::size_t(cancelAt));
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(keyState(*m_pUser) == before);
    }

    void keysAreMadeOnAWorkerAndTheBitsMadeReported() {
        const KeyState before = keyState(*m_pUser);
        KeyManagementDialog dialog(m_pUser->settings(), m_pUser->provider(), *m_pAnswers);
        dialog.show();
        dialog.findChild<QSlider*>("newKeyLength")->setValue(4);
        m_pAnswers->answerNext(IDOK); // be very sure
        m_pAnswers->answerNext(IDOK); // weak key
        m_pAnswers->answerNext(IDOK); // signature key made
        m_pAnswers->answerNext(IDOK); // exchange key made
        dialog.createNewKeys();
        // Back on the window thread before the keys exist: they are being made elsewhere.
        QVERIFY(dialog.generating());
        QVERIFY(dialog.findChild<QProgressBar*>("busy")->isVisible());
        QVERIFY(!dialog.findChild<QPushButton*>("id1")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.generating(), generation_wait_ms);

        const auto& asked = m_pAnswers->asked_so_far();
        QCOMPARE(asked.size(), std::size_t{4});
        const unsigned made = app::signature_key_text(m_pUser->provider(), 32).bits;
        QVERIFY(asked[2].text.starts_with("Signature Key of " + std::to_string(made) + " bits required"));
        QCOMPARE(asked[2].style & MB_ICONERROR, 0U);
        QVERIFY(asked[3].text.starts_with("Key Exchange Key of " +
                                          std::to_string(app::exchange_key_text(m_pUser->provider(), 32).bits) +
                                          " bits required"));
        QVERIFY(asked[3].text.find("new profile") != std::string::npos);
        const KeyState after = keyState(*m_pUser);
        QVERIFY(after.signature_file != before.signature_file && after.exchange_file != before.exchange_file);
        QVERIFY(after.fingerprints != before.fingerprints);
        QVERIFY(dialog.findChild<QRadioButton*>("authenticationKey")->isChecked());
    }

    void aPairThatCannotBeStoredIsReportedAsAFailure() {
        // Directories where the key files go: no new file can be put in their place, whoever runs the test.
        for (const auto kind : {cryptoapi::key_pair_kind::signature, cryptoapi::key_pair_kind::exchange}) {
            const std::string path = keyFilePath(*m_pUser, kind);
            std::filesystem::remove(path);
            std::filesystem::create_directory(path);
        }
        const KeyState before = keyState(*m_pUser);
        KeyManagementDialog dialog(m_pUser->settings(), m_pUser->provider(), *m_pAnswers);
        dialog.findChild<QSlider*>("newKeyLength")->setValue(8);
        for (int i = 0; i < 3; ++i) {
            m_pAnswers->answerNext(IDOK);
        }
        dialog.createNewKeys();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.generating(), generation_wait_ms);

        const auto& asked = m_pAnswers->asked_so_far();
        QCOMPARE(asked.size(), std::size_t{3});
        for (std::size_t i : {1U, 2U}) {
            QVERIFY(asked[i].text.find("required") == std::string::npos);
            QCOMPARE(asked[i].style & MB_ICONERROR, unsigned(MB_ICONERROR));
        }
        QVERIFY(keyState(*m_pUser) == before);
    }

    void closingWhileKeysAreMadeIsSafe() {
        const KeyState before = keyState(*m_pUser);
        auto dialog = std::make_unique<KeyManagementDialog>(m_pUser->settings(), m_pUser->provider(), *m_pAnswers);
        dialog->show();
        dialog->findChild<QSlider*>("newKeyLength")->setValue(8);
        m_pAnswers->answerNext(IDOK);
        dialog->createNewKeys();
        QVERIFY(dialog->generating());
        dialog->reject(); // the outcome must be seen: closing waits for it
        QVERIFY(dialog->isVisible());
        dialog.reset();
        // The worker finishes alone; its outcome goes nowhere.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(m_pAnswers->asked_so_far().size(), std::size_t{1});
        QVERIFY(keyState(*m_pUser).fingerprints != before.fingerprints);
    }

private:
    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pUser;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::KeyDialogsTest)
#include "key_dialogs_test.moc"
