#pragma once

#include <gtest/gtest.h>
#include <string>

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

} // namespace tiv::test
