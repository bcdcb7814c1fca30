#include "cli/cli.h"

namespace tiv::cli {

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    (void)argc;
    (void)argv;
    (void)out;
    err << "quorvel-cli: no command given.\n";
    return exit_usage;
}

} // namespace tiv::cli
