#pragma once

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <memory>

#include "app/activity_feed.h"
#include "app/friend_conversation.h"
#include "app/program.h"
#include "app/questions.h"
#include "ui/desktop_notifier.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/key_making_window.h"
#include "ui/dialogs/splash_screen.h"
#include "ui/friend_list_window.h"
#include "ui/instance_channel.h"
#include "ui/main_window.h"
#include "ui/message_console.h"
#include "ui/send_window.h"
#include "ui/tray/close_to_tray.h"
#include "ui/tray/tray_icon.h"
#include "ui/window_events.h"
#include "ui/window_fit.h"

namespace tiv::ui {

// The desktop program from start to end, in the order a user meets its windows: the first-run notice (once per
// user), the engine (keys, listener, parcel box root, activity log), the set-up of a new machine and a new user,
// then the main window with the splash over it. A step that waits for the user goes on when its window closes,
// so no step runs an event loop of its own.
//
// Made on the window thread, the one thread where questions are asked.
class DesktopProgram final : public QObject {
    Q_OBJECT
public:
    // The first run makes the user's keys of `first_key_bits` (tests ask for small ones, which are quick).
    // Parcels that arrive, or fail once their sender is known, are told to `notifier`.
    DesktopProgram(app::questions& questions, Notifier& notifier, unsigned first_key_bits = 3072);
    // On settings and keys of the caller's own (tests bring them, for homes of their own).
    DesktopProgram(const app::program_environment& environment, app::questions& questions, Notifier& notifier,
                   unsigned first_key_bits);
    ~DesktopProgram() override;

    // Started at login: the main window waits in the tray, or minimized where there is none, and no splash shows.
    // Called before start().
    void setStartMinimized(bool minimized) { m_bStartMinimized = minimized; }
    void start();

    [[nodiscard]] AboutBox* firstRunNotice() const { return m_pNotice; }
    // The first run's program options or user settings dialog while it waits for the user.
    [[nodiscard]] QDialog* setUpStep() const { return m_pSetUpStep; }
    [[nodiscard]] MainWindow* mainWindow() const { return m_pMainWindow.get(); }
    [[nodiscard]] SplashScreen* splash() const { return m_pSplash.get(); }
    // Up while the first start makes the user's keys.
    [[nodiscard]] KeyMakingWindow* keyMaking() const { return m_pKeyMaking.get(); }
    [[nodiscard]] WindowEvents& events() { return m_oEvents; }
    [[nodiscard]] app::program& program() { return m_oProgram; }
    [[nodiscard]] MessageConsole& console() { return m_oConsole; }
    [[nodiscard]] FriendListWindow* friendList() const { return m_pFriendList; }
    // Null where the desktop has no tray.
    [[nodiscard]] TrayIcon* tray() const { return m_pTray.get(); }

    // The friends were added, changed or deleted: the windows that list them read them again.
    void friendsChanged();

    // A later start's request (or this start's own files): the main window comes to the front, and files go to a
    // send window for the friend named, or for the one the user chooses. Held until start-up is over.
    void handleRequest(const InstanceRequest& request);

    // What the process ends with once `ended` came: non-zero when start-up failed.
    [[nodiscard]] int exitCode() const { return m_nExitCode; }

signals:
    // The main window is up; start-up is over.
    void started();
    // The user quit, or start-up failed: the listener and every transfer have stopped and every window is closed.
    void ended();

private:
    DesktopProgram(const app::program_environment* environment, app::questions& questions, Notifier& notifier,
                   unsigned first_key_bits);
    // Runs one step of start-up; a failure in it is told to the user and ends the program.
    template <typename Step> void startUpStep(Step step);
    void startUpFailed(const std::string& reason);
    // The user confirmed quitting: every window closes, the send windows once their transfers have let go.
    void quit();
    void endOnceSendWindowsAreGone();
    void startEngine();
    // The first-run set-up of the machine (the program options) and of this user (the user settings), each
    // skipped once complete; the main window follows.
    void setUpMachine();
    void setUpUser();
    void showMainWindow();
    void showAbout();
    void showFriendList();
    void showProfileDialog();
    // Dropped files go to the one friend there is, or to the friend the user chooses.
    void sendToChosenFriend(const QStringList& paths);
    // To the friend named; one not stored is said so, and the user chooses instead.
    void sendToFriend(const QString& name, const QStringList& paths);
    void showUserSettings();
    void showProgramOptions();
    // One notice per send, once every file of it has ended.
    void notifySend(const std::vector<app::transfer_view>& rows);
    // In the console under the sender's name and time, and as a notice.
    void showMessage(const app::received_message& message);
    SendWindow* openSendWindow(const QString& profile);
    [[nodiscard]] std::size_t sendWindowTransfers() const;

    app::questions& m_oQuestions;
    Notifier& m_oNotifier;
    unsigned m_nFirstKeyBits;
    // Every window of the program opens inside its screen.
    ScreenFit m_oScreenFit;
    WindowEvents m_oEvents;
    // Created hidden with the program, so lines logged before anyone opens it are there when someone does.
    MessageConsole m_oConsole;
    app::activity_feed m_oActivityFeed{m_oEvents};
    app::program m_oProgram;
    // Friends' messages go to the console and the notifications from the first start on.
    app::message_feed m_oMessageFeed{m_oProgram, m_oEvents};
    QPointer<AboutBox> m_pNotice;
    // The first-run options or user settings dialog while it is open.
    QPointer<QDialog> m_pSetUpStep;
    std::unique_ptr<MainWindow> m_pMainWindow;
    std::unique_ptr<SplashScreen> m_pSplash;
    std::unique_ptr<KeyMakingWindow> m_pKeyMaking;
    QFuture<app::status> m_oFirstKeys;
    // Both go before the main window they serve.
    std::unique_ptr<TrayIcon> m_pTray;
    std::unique_ptr<CloseToTray> m_pCloseToTray;
    bool m_bStartMinimized = false;
    // Each deletes itself when closed.
    std::vector<QPointer<SendWindow>> m_aSendWindows;
    QPointer<FriendListWindow> m_pFriendList;
    // Requests that came before the main window was up.
    std::vector<InstanceRequest> m_aPendingRequests;
    // `ended` was emitted; it is emitted once.
    bool m_bEnded = false;
    int m_nExitCode = 0;
};

} // namespace tiv::ui
