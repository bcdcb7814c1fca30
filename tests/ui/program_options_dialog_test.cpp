#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sys/socket.h>

#include "app/internal/listen_config.h"
#include "app/internal/program_parts.h"
#include "app/internal/settings/adapter_branches.h"
#include "app/internal/settings/identity_service.h"
#include "core/unique_fd.h"
#include "net/loopback.h"
#include "settings/registry_names.h"
#include "settings/setting_value.h"
#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/dialogs/program_options_dialog.h"
#include "ui/dialogs/session_key_options_dialog.h"
#include "ui/message_style.h"
#include "ui/support/scripted_answers.h"
#include "ui/support/silent_connection.h"

namespace tiv::ui {

namespace {
sockaddr_in loopback(const char* address, int port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address, &where.sin_addr);
    return where;
}

// A socket listening on 127.0.0.2 at a port the kernel chose, which `port` receives.
unique_fd portHolder(int& port) {
    unique_fd holder(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in where = loopback("127.0.0.2", 0);
    socklen_t length = sizeof where;
    if (::bind(holder.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(holder.get(), 1) != 0 ||
        ::getsockname(holder.get(), reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        return unique_fd();
    }
    port = ntohs(where.sin_port);
    return holder;
}

// A port nothing listens on now, as the kernel hands them out.
int freePort() {
    int port = 0;
    (void)portHolder(port);
    return port;
}

// Named addresses of both families as the machine lists them (IPv6 ones among the IPv4), and two adapters: a
// loopback one without DHCP, and one of a type the tree does not name.
NetworkSources givenNetwork() {
    NetworkSources given;
    given.addresses = [] {
        return std::vector<app::reverse_name>{
            {"127.0.0.3", "third"}, {"::1", "::1"}, {"fe80::1%eth0", "fe80::1%eth0"}, {"127.0.0.2", "second"}};
    };
    given.adapters = [] {
        adapter_info local{"lo", "lo", 1, adapter_type::loopback, {}, {{"127.0.0.1", "255.0.0.0"}}, {}, {}, {}};
        local.ipv6_addresses = {{"::1", 128, ipv6_scope::loopback}};
        adapter_info radio{"wlan0", "wlan0", 2, adapter_type::wireless, {2, 0x11, 0x22, 0x33, 0x44, 0x55}, {},
                           {},      {},      {}};
        radio.dhcp = adapter_lease{"192.168.1.1", 0, 0};
        return app::adapter_branches({local, radio});
    };
    return given;
}

QStringList childTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) {
        texts << item->child(i)->text(0);
    }
    return texts;
}
} // namespace

// Bob's options: he listens on 127.0.0.2 with a block size the dialog does not offer and a policy of 0x201 beside a
// provider offering 0xE40; the machine's addresses are given as 127.0.0.3 ("third") and 127.0.0.2 ("second").
class ProgramOptionsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_oHome.emplace();
        m_pBob = std::make_unique<test::test_identity>("Bob");
        m_nPort = freePort();
        const reg::key& machine = m_pBob->settings().machine_key();
        QVERIFY(app::mark_setup_complete(machine)); // so the start keeps these values instead of the defaults
        QVERIFY(write_text_setting(machine, names::interface_ip_address, "127.0.0.2"));
        QVERIFY(write_dword_setting(machine, names::interface_ip_port, static_cast<std::uint32_t>(m_nPort)));
        QVERIFY(write_dword_setting(machine, names::io_block_size, 3000));
        QVERIFY(write_dword_setting(machine, names::enabled_sk_caps, 0x201));
        QVERIFY(write_dword_setting(machine, names::current_csp_sk_caps, 0xE40));
        QVERIFY(write_text_setting(machine, names::external_name, "bob.example"));
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
        m_pProgram = std::make_unique<app::program>(m_pBob->environment(), *m_pAnswers);
        m_pProgram->start();
        QVERIFY2(m_pProgram->listen_status().ok(), m_pProgram->listen_status().text().c_str());
        m_pDialog = std::make_unique<ProgramOptionsDialog>(*m_pProgram, *m_pAnswers, nullptr, givenNetwork());
        m_pDialog->show();
    }

    void cleanup() {
        m_pDialog.reset();
        m_pProgram.reset();
        QCOMPARE(m_pAnswers->unused_answers(), std::size_t{0});
        m_pAnswers.reset();
        m_pBob.reset();
        m_oHome.reset();
    }

    void adapterTreeShowsTheGivenAdaptersWithTheFirstExpanded() {
        const QTreeWidget* tree = m_pDialog->findChild<QTreeWidget*>("adaptersTree");
        QTRY_COMPARE(tree->topLevelItemCount(), 2);
        const QTreeWidgetItem* first = tree->topLevelItem(0);
        QVERIFY(first->isExpanded() && !tree->topLevelItem(1)->isExpanded());
        QCOMPARE(first->text(0), QString("lo"));
        QVERIFY(childTexts(first).contains("HW Addr: xx:xx:xx:xx:xx:xx:"));
        QVERIFY(!childTexts(first).filter("DHCP Server").size());
        QCOMPARE(first->child(3)->child(0)->text(0), QString("127.0.0.1 - Mask: 255.0.0.0"));
        QCOMPARE(first->child(4)->child(0)->text(0), QString("::1 - Prefix: /128 - loopback"));
        const QStringList second = childTexts(tree->topLevelItem(1));
        QVERIFY(second.contains("Type: [unknown interface type]"));
        QVERIFY(second.contains("DHCP Server: 192.168.1.1"));
    }

    void opensOnTheStoredValuesAndApplyStoresTheChosenAddressAndEveryValue() {
        QCOMPARE(interfaces()->currentText(), QString("127.0.0.2")); // before the lookups come back
        QTRY_COMPARE(interfaces()->count(), 6);
        QCOMPARE(interfaceLabels(), QStringList({"127.0.0.3  [third]", "127.0.0.2  [second]",
                                                 "fe80::1%eth0  [fe80::1%eth0]", "::  [every address, IPv6 and IPv4]",
                                                 "::1  [IPv6 loopback]", "127.0.0.1  [local loopback]"}));
        QCOMPARE(interfaces()->currentText(), QString("127.0.0.2  [second]"));
        QCOMPARE(m_pDialog->findChild<QComboBox*>("blockSizeCombo")->currentText(), QString("8192 bytes"));
        const QListWidget* keyTypes = m_pDialog->findChild<QListWidget*>("keyTypesList");
        QCOMPARE(keyTypes->count(), 1);
        QCOMPARE(keyTypes->item(0)->text(), QString("AES (CBC)  128 bit"));

        interfaces()->setCurrentIndex(5);
        QCOMPARE(field("interfaceAddressEdit")->text(), QString("127.0.0.1"));
        const int port = freePort();
        field("listenPortEdit")->setText(QString::number(port));
        field("externalNameEdit")->setText("friends.example");
        apply();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(interfaces()->currentText(), QString("127.0.0.1  [local loopback]"));
        QCOMPARE(machineValues(), "127.0.0.1|" + std::to_string(port) + "|8192|512|friends.example");
        QCOMPARE(m_pBob->provider().allowed_key_types.load(), 0x200U & crypto_provider::available_key_types());
        QCOMPARE(m_pProgram->incoming().bound_address(), "127.0.0.1:" + std::to_string(port));
    }

    void listenerRestartsAsTheRunningTransfersAllow_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("newPort");
        QTest::addColumn<int>("answer"); // to the restart question; 0 when none is due
        QTest::addColumn<bool>("restarts");
        QTest::newRow("none running, nothing changed") << false << false << 0 << true;
        QTest::newRow("running, nothing changed") << true << false << 0 << false;
        QTest::newRow("running, a new port refused") << true << true << int(IDNO) << false;
        QTest::newRow("running, a new port agreed") << true << true << int(IDYES) << true;
    }

    void listenerRestartsAsTheRunningTransfersAllow() {
        QFETCH(bool, running);
        QFETCH(bool, newPort);
        QFETCH(int, answer);
        QFETCH(bool, restarts);
        QTRY_COMPARE(interfaces()->count(), 6);
        unique_fd connection;
        if (running) {
            connection = test::silent_connection(m_pProgram->incoming().bound_address());
            QVERIFY(test::wait_for([this] { return m_pProgram->incoming().running_count() == 1; },
                                   std::chrono::seconds(5)));
        }
        const int port = newPort ? freePort() : m_nPort;
        field("listenPortEdit")->setText(QString::number(port));
        if (answer != 0) {
            m_pAnswers->answer_next(answer);
        }
        apply();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t(answer != 0 ? 1 : 0));
        // The listener's block size shows whether it was rebuilt from what Apply stored.
        QCOMPARE(m_pProgram->incoming().config().block_size, restarts ? 8192 : 3000);
        const std::string inForce = std::to_string(restarts ? port : m_nPort);
        QCOMPARE(m_pProgram->incoming().bound_address(), "127.0.0.2:" + inForce);
        QCOMPARE(machineValues(), "127.0.0.2|" + inForce + "|8192|512|bob.example");
        QCOMPARE(m_pProgram->incoming().running_count(), std::size_t(running && !restarts ? 1 : 0));
    }

    void refusedValuesKeepTheDialogOpenAndWriteNothing_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        const QString port = "The listen port must be a number from 1 to 65535.";
        QTest::newRow("port above 65535") << "70000"
                                          << "127.0.0.2" << port;
        QTest::newRow("port 0") << "0"
                                << "127.0.0.2" << port;
        const QString name = "The listening interface 'example.org' does not start with an IPv4 or IPv6 address.";
        QTest::newRow("typed name") << "20000"
                                    << "example.org" << name;
    }

    void refusedValuesKeepTheDialogOpenAndWriteNothing() {
        QFETCH(QString, port);
        QFETCH(QString, address);
        QFETCH(QString, reason);
        const std::string before = machineValues();
        field("listenPortEdit")->setText(port);
        field("interfaceAddressEdit")->setText(address);
        m_pAnswers->answer_next(IDOK);
        apply();
        QVERIFY(m_pDialog->isVisible());
        QCOMPARE(QString::fromStdString(m_pAnswers->questions_asked().back().text), reason);
        QCOMPARE(machineValues(), before);
    }

    void anEmptyPolicyIsAskedAboutBeforeItIsApplied() {
        m_pDialog->findChild<QPushButton*>("editKeyTypesButton")->click();
        auto* chooser = m_pDialog->findChild<SessionKeyOptionsDialog*>();
        QVERIFY(chooser != nullptr);
        chooser->box(0x200)->click();
        chooser->findChild<QPushButton*>("okButton")->click(); // Apply asks, not the chooser as well
        QCOMPARE(m_pDialog->findChild<QListWidget*>("keyTypesList")->count(), 0);
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{0});

        const std::string before = machineValues();
        m_pAnswers->answer_next(IDNO);
        apply();
        QVERIFY(m_pDialog->isVisible());
        QCOMPARE(machineValues(), before);
        m_pAnswers->answer_next(IDYES);
        apply();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(m_pAnswers->questions_asked().size(), std::size_t{2}); // one for each Apply
        QCOMPARE(QString::fromStdString(m_pAnswers->questions_asked().back().text),
                 QString("No session key type is approved: no parcel can be sent or received. Apply anyway?"));
        QCOMPARE(read_dword_setting(m_pBob->settings().machine_key(), names::enabled_sk_caps), 0U);
        QCOMPARE(m_pBob->provider().allowed_key_types.load(), 0U);
    }

    // Older versions stored the list's label; it still selects its entry and the core reads only its address.
    void anOldStoredLabelIsReadAsItsAddressAndApplyStoresTheAddressAlone() {
        QVERIFY(app::save_setting(m_pBob->settings(), text_setting::interface_ip_address, "127.0.0.3  [third]").ok());
        QCOMPARE(app::listen_config_of(m_pBob->settings()).interface_address, std::string("127.0.0.3"));
        QCOMPARE(app::describe_identity(m_pBob->settings(), m_pBob->provider()).interface_address,
                 std::string("127.0.0.3"));
        m_pDialog = std::make_unique<ProgramOptionsDialog>(*m_pProgram, *m_pAnswers, nullptr, givenNetwork());
        QTRY_COMPARE(interfaces()->count(), 6);
        QCOMPARE(interfaces()->currentText(), QString("127.0.0.3  [third]"));
        QCOMPARE(field("interfaceAddressEdit")->text(), QString("127.0.0.3"));
        apply();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(machineValues(), "127.0.0.3|" + std::to_string(m_nPort) + "|8192|512|bob.example");
        QCOMPARE(m_pProgram->incoming().bound_address(), "127.0.0.3:" + std::to_string(m_nPort));
    }

    void theIPv6LoopbackIsStoredAndChosenAgainWhenTheDialogReopens() {
        if (!test::has_ipv6_loopback()) {
            QSKIP("this machine has no IPv6 loopback (::1): IPv6 is switched off");
        }
        QTRY_COMPARE(interfaces()->count(), 6);
        interfaces()->setCurrentIndex(interfaces()->findText("::1  [IPv6 loopback]"));
        QCOMPARE(field("interfaceAddressEdit")->text(), QString("::1"));
        apply();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        QCOMPARE(machineValues(), "::1|" + std::to_string(m_nPort) + "|8192|512|bob.example");
        QCOMPARE(m_pProgram->incoming().bound_address(), "[::1]:" + std::to_string(m_nPort));

        m_pDialog = std::make_unique<ProgramOptionsDialog>(*m_pProgram, *m_pAnswers, nullptr, givenNetwork());
        QCOMPARE(field("interfaceAddressEdit")->text(), QString("::1")); // before the lookups come back
        QTRY_COMPARE(interfaces()->count(), 6);
        QCOMPARE(interfaces()->currentText(), QString("::1  [IPv6 loopback]"));
    }

    void anExternalNameLeftAloneFollowsANewInterfaceUnlessTheUserChoseIt() {
        const auto external_name = [this] {
            return read_text_setting(m_pBob->settings().machine_key(), names::external_name).value_or("-");
        };
        field("interfaceAddressEdit")->setText("127.0.0.1");
        apply();
        QCOMPARE(external_name(), std::string("bob.example"));

        QVERIFY(app::save_setting(m_pBob->settings(), text_setting::external_name, "127.0.0.1").ok());
        m_pDialog = std::make_unique<ProgramOptionsDialog>(*m_pProgram, *m_pAnswers, nullptr, givenNetwork());
        field("interfaceAddressEdit")->setText("127.0.0.2");
        apply();
        QCOMPARE(external_name(), std::string("127.0.0.2"));
    }

    void cancelChangesNeitherTheSettingsNorTheProvider() {
        const std::string before = machineValues();
        const std::uint32_t allowed = m_pBob->provider().allowed_key_types;
        field("listenPortEdit")->setText("20001");
        field("externalNameEdit")->setText("elsewhere.example");
        m_pDialog->findChild<QComboBox*>("blockSizeCombo")->setCurrentIndex(0);
        m_pDialog->findChild<QPushButton*>("editKeyTypesButton")->click();
        auto* chooser = m_pDialog->findChild<SessionKeyOptionsDialog*>();
        chooser->box(0x800)->click();
        chooser->findChild<QPushButton*>("okButton")->click();
        m_pDialog->findChild<QPushButton*>("cancelButton")->click();
        QCOMPARE(m_pDialog->result(), int(QDialog::Rejected));
        QCOMPARE(machineValues(), before);
        QCOMPARE(m_pBob->provider().allowed_key_types.load(), allowed);
        QCOMPARE(m_pProgram->incoming().bound_address(), "127.0.0.2:" + std::to_string(m_nPort));
    }

    void aPortInUseIsStoredAndReportedAsNotListening() {
        int taken = 0;
        const unique_fd holder = portHolder(taken);
        field("listenPortEdit")->setText(QString::number(taken));
        m_pAnswers->answer_next(IDOK);
        apply();
        QCOMPARE(m_pDialog->result(), int(QDialog::Accepted));
        const QString warning = QString::fromStdString(m_pAnswers->questions_asked().back().text);
        QVERIFY2(warning.startsWith("The options were stored, but the program is not listening: ") &&
                     warning.contains(QString::number(taken)),
                 qPrintable(warning));
        QVERIFY(!m_pProgram->incoming().listening());
    }

    void unwritableMachineSettingsAreReportedAndNothingRestarts() {
        ::setenv("QUORVEL_MACHINE_DB", "/proc/quorvel-nowhere/machine.db", 1);
        qvl_settings_data settings;
        app::program program({settings, m_pBob->provider()}, *m_pAnswers);
        ProgramOptionsDialog dialog(program, *m_pAnswers, nullptr, givenNetwork());
        dialog.findChild<QLineEdit*>("listenPortEdit")->setText("20000");
        QVERIFY(!dialog.findChild<QPushButton*>("applyButton")->isEnabled());
        QVERIFY(dialog.findChild<QLabel*>("machineNoticeLabel")->text().contains("/proc/quorvel-nowhere/machine.db"));
        m_pAnswers->answer_next(IDOK);
        dialog.accept(); // Return or a stray call must not get past the disabled button
        QVERIFY(m_pAnswers->questions_asked().back().text.find("cannot be used") != std::string::npos);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(app::spine_of(program).listener() == nullptr);
        ::unsetenv("QUORVEL_MACHINE_DB");
    }

private:
    QComboBox* interfaces() const { return m_pDialog->findChild<QComboBox*>("interfacesCombo"); }
    QLineEdit* field(const char* name) const { return m_pDialog->findChild<QLineEdit*>(name); }
    void apply() const { m_pDialog->findChild<QPushButton*>("applyButton")->click(); }
    QStringList interfaceLabels() const {
        QStringList labels;
        for (int i = 0; i < interfaces()->count(); ++i) {
            labels << interfaces()->itemText(i);
        }
        return labels;
    }

    // Every machine value the dialog writes, as stored.
    std::string machineValues() const {
        const reg::key& machine = m_pBob->settings().machine_key();
        std::string values = read_text_setting(machine, names::interface_ip_address).value_or("-");
        for (const char* name : {names::interface_ip_port, names::io_block_size, names::enabled_sk_caps}) {
            values += "|" + std::to_string(read_dword_setting(machine, name).value_or(0));
        }
        return values + "|" + read_text_setting(machine, names::external_name).value_or("-");
    }

    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pBob;
    std::unique_ptr<app::program> m_pProgram;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
    std::unique_ptr<ProgramOptionsDialog> m_pDialog;
    int m_nPort = 0;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::ProgramOptionsDialogTest)
#include "program_options_dialog_test.moc"
