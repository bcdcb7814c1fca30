#pragma once

#include <memory>

#include "app/status.h"

namespace tiv::app {

class incoming_parcels;
class questions;
struct program_environment;
struct program_parts;

// The program itself, as a front end holds it: this user's settings, the key provider and the engine that listens
// (keys, listener, parcel box root, activity log). A front end makes one and reaches every service through it, so
// no window or command holds the settings or the keys themselves. Used on the front end's thread.
class program {
public:
    // The settings of this user and this machine as they are stored now, and the process's key provider.
    // `answers` is asked, on the front end's thread, what start-up and the openings of the keys must tell the user;
    // it must outlive the program.
    explicit program(questions& answers);
    // On settings and keys of the caller's own (internal/program_parts.h), which must outlive the program.
    program(const program_environment& environment, questions& answers);
    program(const program&) = delete;
    program& operator=(const program&) = delete;
    // Shuts the engine down when it still runs.
    ~program();

    // Start-up without windows: the defaults where set-up is not complete, identity and keys, the parcel box root,
    // the activity log file, then the listener. What it must tell the user goes to the program's questions.
    void start();
    // Clears the finished transfers, stops the listener and every transfer (temporary files are removed), closes
    // the log file. Does nothing a second time.
    void shutdown();
    // Between start() and shutdown().
    [[nodiscard]] bool started() const;

    // Whether the listener could listen, and if not, why: the keys, the parcel box root, a port in use, an address
    // that does not resolve, each with the path or address at fault.
    [[nodiscard]] const status& listen_status() const;
    // Why start() could not open the log file, as a front end says it once; ok when it is open.
    [[nodiscard]] const status& log_status() const;
    // A restart of the listener that waits for the incoming transfers under way (a new parcel box root), run
    // once none runs; true when it ran. A window calls it on its timer.
    bool apply_pending_restart();
    [[nodiscard]] bool restart_pending() const;
    // The parcels arriving: the listener's transfers, its address and its state.
    [[nodiscard]] incoming_parcels& incoming();

    // What the program is made of, for the services of this layer (internal/program_parts.h).
    [[nodiscard]] program_parts& parts() { return *m_pParts; }

private:
    std::unique_ptr<program_parts> m_pParts;
};

// Waits until every transfer thread of the process has released what it holds (a few seconds at most); a program
// calls it last, after stopping its transfers, so none is cut off half way through.
void wait_for_transfers();

} // namespace tiv::app
