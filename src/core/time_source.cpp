#include "core/time_source.h"

namespace tiv {

namespace {
class system_time final : public time_source {
public:
    [[nodiscard]] std::chrono::system_clock::time_point calendar() const override {
        return std::chrono::system_clock::now();
    }
};
} // namespace

const time_source& real_time() {
    static const system_time clocks;
    return clocks;
}

} // namespace tiv
