#include "app/program.h"

#include "app/internal/program_parts.h"
#include "net/transfer/rthread.h"

namespace tiv::app {

namespace {
std::unique_ptr<program_parts> own_parts(questions& answers) {
    auto settings = std::make_unique<qvl_settings_data>();
    qvl_settings_data& own = *settings;
    return std::make_unique<program_parts>(std::move(settings), program_environment{own, process_crypto_provider()},
                                           answers);
}
} // namespace

program_parts::program_parts(std::unique_ptr<qvl_settings_data> own, const program_environment& environment,
                             questions& answers)
    : own_settings(std::move(own)), settings(environment.settings), provider(environment.provider), answers(answers),
      resolve(environment.resolve ? environment.resolve : name_resolver(resolve_all)),
      history(std::make_shared<history_keeper>(environment.settings.user_key())),
      spine(environment.settings, environment.provider, answers) {
    spine.incoming().set_row_listener([kept = history](const transfer_view& row) { kept->record(row); });
    spine.incoming().set_message_listener([hub = messages](const friend_message& message) {
        return hub->deliver({message.friend_name, message.text, message.time});
    });
}

program::program(questions& answers) : m_pParts(own_parts(answers)) {}

program::program(const program_environment& environment, questions& answers)
    : m_pParts(std::make_unique<program_parts>(nullptr, environment, answers)) {}

program::~program() = default;

void program::start() {
    m_pParts->spine.start();
    if (m_pParts->lan == nullptr) {
        m_pParts->lan = std::make_shared<lan_neighbours>();
    }
}

void program::shutdown() {
    m_pParts->spine.shutdown();
    m_pParts->lan.reset();
}

bool program::started() const {
    return m_pParts->spine.started();
}

const status& program::listen_status() const {
    return m_pParts->spine.listen_status();
}

const status& program::log_status() const {
    return m_pParts->spine.log_status();
}

bool program::apply_pending_restart() {
    return m_pParts->spine.apply_pending_restart();
}

bool program::restart_pending() const {
    return m_pParts->spine.restart_pending();
}

incoming_parcels& program::incoming() {
    return m_pParts->spine.incoming();
}

void wait_for_transfers() {
    wait_for_transfer_threads();
}

} // namespace tiv::app
