#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "app/internal/program_parts.h"
#include "crypto/crypto_provider.h"
#include "settings/qvl_settings_data.h"
#include "support/temp_home.h"
#include "ui/desktop_program.h"
#include "ui/support/no_lan_announcement.h"
#include "ui/support/no_port_mapping.h"
#include "ui/support/recording_notifier.h"
#include "ui/support/scripted_answers.h"

namespace tiv::ui {

namespace {
// Every control of `window` (a text, a field, a button) shown smaller than it needs (a field cut through, a
// caption cut), and the window itself when any of it lies off the screen.
QStringList faultsOf(const QWidget* window) {
    QStringList faults;
    if (!window->screen()->availableGeometry().contains(window->frameGeometry())) {
        faults << window->windowTitle() + " lies outside the screen";
    }
    for (const QWidget* child : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<const QLabel*>(child) || qobject_cast<const QLineEdit*>(child) ||
                             qobject_cast<const QComboBox*>(child) || qobject_cast<const QAbstractButton*>(child) ||
                             qobject_cast<const QAbstractSpinBox*>(child);
        // Qt's own parts of a control (a spin box's field) are sized by the control.
        if (!control || !child->isVisibleTo(window) || child->objectName().startsWith("qt_")) {
            continue;
        }
        const auto* label = qobject_cast<const QLabel*>(child);
        const int height =
            label && label->wordWrap() ? label->heightForWidth(child->width()) : child->minimumSizeHint().height();
        if (child->width() < child->minimumSizeHint().width() || child->height() < height) {
            faults << window->windowTitle() + ": " + child->metaObject()->className() + " " + child->objectName() +
                          " is cut";
        }
    }
    return faults;
}

QStringList faultsOfWindowsShown() {
    QStringList faults;
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() != Qt::SplashScreen) {
            faults << faultsOf(window);
        }
    }
    return faults;
}
} // namespace

// Every window of the program on a small screen at twice the scale (1366x768 at 2x, 683x384 of room): each opens
// inside the screen and shows its controls whole, scrolling where it cannot fit.
class WindowFitTest : public QObject {
    Q_OBJECT
private slots:
    void everyWindowOpensInsideASmallScreenWithItsControlsWhole() {
        test::temp_home home;
        qvl_settings_data settings;
        crypto_provider provider(home.path() + "/keys", 1024);
        test::ScriptedAnswers answers;
        test::RecordingNotifier notifier;
        QVERIFY(test::keep_off_the_router(settings));
        QVERIFY(test::keep_off_the_lan(settings));
        DesktopProgram program({settings, provider}, answers, notifier, 1024);
        program.start();
        QStringList faults;
        faults << faultsOfWindowsShown();
        QTest::mouseClick(program.firstRunNotice()->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        faults << faultsOfWindowsShown();
        QTRY_VERIFY_WITH_TIMEOUT(program.keyMaking() == nullptr, 60000);
        while (QDialog* step = program.setUpStep()) {
            faults << faultsOfWindowsShown();
            step->reject();
        }
        QTRY_VERIFY(program.mainWindow() != nullptr);
        faults << faultsOfWindowsShown();
        MainWindow& main = *program.mainWindow();
        main.resize(main.minimumSize());
        faults << faultsOf(&main);

        main.findChild<QAction*>("genericConnectionAction")->trigger();
        main.findChild<QAction*>("friendStatusAction")->trigger();
        main.findChild<QAction*>("activityLogAction")->trigger();
        faults << faultsOfWindowsShown();
        for (const char* command :
             {"friendProfilesAction", "userConfigurationAction", "programConfigurationAction", "aboutAction"}) {
            QAction* item = main.findChild<QAction*>(command);
            QTRY_VERIFY(item->isEnabled());
            item->trigger();
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            faults << faultsOfWindowsShown();
            dialog->reject();
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QVERIFY(main.close());
    }
};

} // namespace tiv::ui

// A screen of 1366x768 pixels at a scale factor of 2, set before the application starts.
int main(int argc, char** argv) {
    QTemporaryDir screens;
    const QString configuration = screens.filePath("screens.json");
    QFile file(configuration);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1366, "height": 768,
                      "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") < 0) {
        return 2;
    }
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + configuration.toLocal8Bit());
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    tiv::ui::WindowFitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_fit_test.moc"
