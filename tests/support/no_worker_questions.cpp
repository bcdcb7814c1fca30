#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "platform/message_box.h"

// Linked into the executables whose suites run transfers and authentications. A question from any thread other
// than the one that runs the tests would wait on a window that no worker may touch; here it fails the test that
// asked it (and is answered OK so the worker can go on and the run can end).
namespace tiv::test {
namespace {

class no_worker_questions : public ::testing::Environment {
public:
    void SetUp() override {
        const std::thread::id installer = std::this_thread::get_id();
        auto previous = std::make_shared<message_box_hook>();
        *previous = set_message_box_hook(
            [installer, previous](const std::string& text, const std::string& caption, unsigned style) {
                if (std::this_thread::get_id() != installer) {
                    ADD_FAILURE() << "a worker thread asked the user: \"" << text << "\" (" << caption << ")";
                    return static_cast<int>(IDOK);
                }
                return *previous ? (*previous)(text, caption, style) : static_cast<int>(IDOK);
            });
        m_pPrevious = std::move(previous);
    }
    void TearDown() override { set_message_box_hook(std::move(*m_pPrevious)); }

private:
    std::shared_ptr<message_box_hook> m_pPrevious;
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new no_worker_questions);

} // namespace
} // namespace tiv::test
