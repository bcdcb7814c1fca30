#include "ui/support/scripted_answers.h"

#include <QTest>

namespace tiv::test {

void ScriptedAnswers::unexpected(const std::string& what) {
    QTest::qFail(what.c_str(), __FILE__, __LINE__);
}

} // namespace tiv::test
