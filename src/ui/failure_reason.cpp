#include "ui/failure_reason.h"

#include <exception>

#include "core/fatal_exception.h"

namespace tiv::ui {

std::string currentFailureReason() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (const fatal_exception& error) {
        return std::string(error.message) + " (" + error.array_name + ")";
    } catch (const char* text) {
        return text;
    } catch (...) {
        return "an unknown error";
    }
}

} // namespace tiv::ui
