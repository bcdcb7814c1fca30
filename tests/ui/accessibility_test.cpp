#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>
#include <functional>
#include <memory>
#include <optional>

#include "support/temp_home.h"
#include "support/test_identity.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/key_management_dialog.h"
#include "ui/dialogs/profile_dialog.h"
#include "ui/dialogs/program_options_dialog.h"
#include "ui/dialogs/public_key_editor.h"
#include "ui/dialogs/session_key_options_dialog.h"
#include "ui/dialogs/user_settings_dialog.h"
#include "ui/friend_list_window.h"
#include "ui/main_window.h"
#include "ui/message_console.h"
#include "ui/send_window.h"
#include "ui/support/scripted_answers.h"

// Each window is made inside its test row, after the program it shows exists.
Q_DECLARE_METATYPE(std::function<QWidget*()>)

namespace tiv::ui {

namespace {
// A control a user works with, as a screen reader meets it; the parts that a control is made of (a combo box's
// line and list, a spin box's line, a view's headers and scroll bars) speak through the control itself.
bool interactive(const QWidget* widget) {
    for (const QWidget* above = widget->parentWidget(); above != nullptr; above = above->parentWidget()) {
        if (qobject_cast<const QComboBox*>(above) != nullptr ||
            qobject_cast<const QAbstractSpinBox*>(above) != nullptr ||
            qobject_cast<const QAbstractItemView*>(above) != nullptr) {
            return false;
        }
    }
    // Qt's own helpers (the menu bar's overflow button) are named by Qt, not by us.
    if (qobject_cast<const QHeaderView*>(widget) != nullptr || widget->objectName().startsWith("qt_")) {
        return false;
    }
    return qobject_cast<const QAbstractButton*>(widget) != nullptr ||
           qobject_cast<const QLineEdit*>(widget) != nullptr || qobject_cast<const QComboBox*>(widget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(widget) != nullptr ||
           qobject_cast<const QAbstractItemView*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr || qobject_cast<const QTextEdit*>(widget) != nullptr;
}

// The interactive controls of `window` a screen reader would announce without a name, by object name.
QStringList unnamedControls(QWidget& window) {
    QStringList unnamed;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!interactive(widget)) {
            continue;
        }
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(widget);
        if (spoken == nullptr || spoken->text(QAccessible::Name).trimmed().isEmpty()) {
            unnamed << widget->metaObject()->className() + QString(" ") + widget->objectName();
        }
    }
    return unnamed;
}
} // namespace

// Every window of the program, walked as a screen reader would walk it.
class Accessibility : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_oHome.emplace();
        m_pUser = std::make_unique<test::test_identity>("Bob");
        m_pAnswers = std::make_unique<test::ScriptedAnswers>();
    }

    void cleanupTestCase() {
        m_pAnswers.reset();
        m_pUser.reset();
        m_oHome.reset();
    }

    void everyControlOfEveryWindowHasAName_data() {
        QTest::addColumn<std::function<QWidget*()>>("make");
        app::program& program = m_pUser->program();
        app::questions& answers = *m_pAnswers;
        const auto add = [](const char* name, std::function<QWidget*()> make) { QTest::newRow(name) << make; };
        add("main window", [&] { return new MainWindow(program, answers); });
        add("send window", [&] { return new SendWindow(program, answers); });
        add("friend status", [&] { return new FriendListWindow(program); });
        add("profiles", [&] { return new ProfileDialog(program, answers); });
        add("program options", [&] { return new ProgramOptionsDialog(program, answers); });
        add("user settings", [&] { return new UserSettingsDialog(program, answers); });
        add("key management", [&] { return new KeyManagementDialog(program, answers); });
        add("session key options", [&] { return new SessionKeyOptionsDialog(0xE40, 0x800, answers); });
        add("public key editor", [&] { return new EditPublicKey(answers, "0123"); });
        add("message console", [] { return new MessageConsole; });
        add("about", [] { return new AboutBox; });
    }

    void everyControlOfEveryWindowHasAName() {
        QFETCH(std::function<QWidget*()>, make);
        const std::unique_ptr<QWidget> window(make());
        window->show();
        QCOMPARE(unnamedControls(*window).join(", "), QString());
    }

private:
    std::optional<test::temp_home> m_oHome;
    std::unique_ptr<test::test_identity> m_pUser;
    std::unique_ptr<test::ScriptedAnswers> m_pAnswers;
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::Accessibility)
#include "accessibility_test.moc"
