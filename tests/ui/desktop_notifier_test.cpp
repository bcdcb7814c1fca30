#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "ui/desktop_notifier.h"

namespace tiv::ui {

// A desktop without a session bus (a server, a test run, a bare window manager) shows no news and must not break.
class DesktopNotifierTest : public QObject {
    Q_OBJECT
private slots:
    void withoutASessionBusNothingIsSentAndNothingBreaks() {
        // No address, no bus socket in the runtime directory and no display to launch one for: no bus at all.
        const QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::unsetenv("DISPLAY");
        ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);

        DesktopNotifier notifier;
        QVERIFY(!notifier.connected());
        notifier.notify("Parcel from Alice", "report.pdf (70,000 bytes) is in your parcel box");
    }
};

} // namespace tiv::ui

QTEST_GUILESS_MAIN(tiv::ui::DesktopNotifierTest)
#include "desktop_notifier_test.moc"
