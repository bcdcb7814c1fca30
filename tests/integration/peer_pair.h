#pragma once

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "app/internal/receiver.h"
#include "core/file_writer.h"
#include "support/test_identity.h"

namespace tiv::test {

// Alice and Bob, made once per test suite and ready to run as quorvel-cli processes (prepare_peer), and a work
// directory of each test's own, emptied before and removed after it.
class peer_pair_test : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static test_identity* s_pAlice;
    static test_identity* s_pBob;
    std::string m_strWork;
};

// A person's listener as `quorvel-cli listen` builds it from their settings, but in this process, on a port the
// kernel chooses, and writing what it receives through `files`: the test then decides what the disk does.
class receiver_in_process {
public:
    receiver_in_process(test_identity& person, std::shared_ptr<file_writer> files);

    [[nodiscard]] const app::status& started() const { return m_oStarted; }
    [[nodiscard]] int port() const;
    // Waits until `count` transfers have arrived and none runs.
    [[nodiscard]] bool wait_received(std::size_t count, std::chrono::milliseconds limit) const;
    [[nodiscard]] std::vector<app::transfer_view> snapshots() const { return m_oReceiver.snapshots(); }

private:
    app::receiver m_oReceiver;
    app::status m_oStarted;
};

} // namespace tiv::test
