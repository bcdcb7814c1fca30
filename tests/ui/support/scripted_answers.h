#pragma once

#include "support/answer_script.h"

namespace tiv::test {

// The script of a QTest suite: what nobody scripted fails the running test; answers left over are reported by
// unused_answers().
class ScriptedAnswers final : public answer_script {
protected:
    void unexpected(const std::string& what) override;
};

} // namespace tiv::test
