#include "presence/ping_job.h"

#include <system_error>

#include "presence/ping.h"

namespace tiv {

ping_job::ping_job(std::vector<ping_record> records, const ping_job_options& options)
    : m_oOptions(options), m_aRecords(std::move(records)) {
    for (ping_record& record : m_aRecords) {
        record.replied = false;
        record.result.status = PING_STATUS::waiting;
    }
}

ping_job::~ping_job() {
    m_bStop.store(true);
    if (m_oThread.joinable()) {
        m_oThread.join();
    }
}

std::vector<ping_record> ping_job::records() const {
    const std::lock_guard<std::mutex> lock(m_oMutex);
    return m_aRecords;
}

bool ping_job::wait_until_done(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_oMutex);
    return m_oFinished.wait_for(lock, timeout, [this] { return m_bDone.load(); });
}

void ping_job::run(std::vector<ping_record> working) {
    sweep_control control;
    control.stop = &m_bStop;
    control.changed = [this](std::size_t i, const ping_record& record) {
        const std::lock_guard<std::mutex> lock(m_oMutex);
        m_aRecords[i] = record;
    };
    int repeats = m_oOptions.repeats;
    int outcome = 1;
    for (;;) {
        outcome = ping_sweep(working, m_oSocket, m_oOptions.wait, m_oOptions.length, control);
        m_nSweeps.fetch_add(1);
        if (outcome == 0 || repeats <= 0 || m_bStop.load()) {
            break;
        }
        --repeats;
    }
    m_nResult.store(outcome);
    {
        const std::lock_guard<std::mutex> lock(m_oMutex);
        m_bDone.store(true);
    }
    m_oFinished.notify_all();
}

std::unique_ptr<ping_job> start_ping_job(std::vector<ping_record> records, const ping_job_options& options) {
    std::unique_ptr<ping_job> job(new ping_job(std::move(records), options));
    try {
        job->m_oThread = std::thread(&ping_job::run, job.get(), job->m_aRecords);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return job;
}

} // namespace tiv
