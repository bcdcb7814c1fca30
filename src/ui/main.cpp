#include <QApplication>
#include <QThreadPool>
#include <cstring>
#include <iostream>
#include <optional>

#include "app/desktop_instance.h"
#include "core/version.h"
#include "ui/desktop_notifier.h"
#include "ui/desktop_program.h"
#include "ui/instance_channel.h"
#include "ui/program_resources.h"
#include "ui/qt_questions.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << tiv::version_text("quorvel") << '\n';
        return 0;
    }
    QApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    // The start at login: the program comes up in the tray, or minimized.
    const bool minimized = arguments.removeAll("--minimized") > 0;
    const std::optional<tiv::ui::InstanceRequest> request = tiv::ui::requestFromArguments(arguments);
    if (!request) {
        std::cerr << "Usage: quorvel [--minimized] [--send [FRIEND] FILE...] [FILE...]\n";
        return 2;
    }
    // One program per user: a later start hands its files to the running one and ends. A start at login finds
    // nothing to ask of one already running, not even to come to the front.
    const QString socket = QString::fromStdString(tiv::app::desktop_instance_socket());
    if (minimized && request->files.isEmpty() ? tiv::ui::instanceRunning(socket)
                                              : tiv::ui::handToRunningInstance(socket, *request)) {
        return 0;
    }
    tiv::ui::InstanceServer instance(socket);
    tiv::ui::loadProgramResources();
    QApplication::setWindowIcon(tiv::ui::programIcon());
    // The program ends by its quit paths only: closing the first-run notice, the last window on screen for a
    // moment, must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    tiv::ui::QtQuestions questions;
    tiv::ui::DesktopNotifier notifier;
    tiv::ui::DesktopProgram program(questions, notifier);
    program.setStartMinimized(minimized);
    QObject::connect(&program, &tiv::ui::DesktopProgram::started,
                     [&questions, &program] { questions.setParent(program.mainWindow()); });
    // exit(), not quit(): quit() first offers every window a close it may refuse, and by `ended` the program has
    // closed what it meant to close.
    QObject::connect(
        &program, &tiv::ui::DesktopProgram::ended, &application,
        [&program] { QCoreApplication::exit(program.exitCode()); }, Qt::QueuedConnection);
    QObject::connect(&instance, &tiv::ui::InstanceServer::requested, &program, &tiv::ui::DesktopProgram::handleRequest);
    program.start();
    if (!request->files.isEmpty()) {
        program.handleRequest(*request);
    }
    const int code = QApplication::exec();
    // Jobs of the windows may still use the settings and the keys: they end before those do.
    QThreadPool::globalInstance()->waitForDone();
    return code;
}
