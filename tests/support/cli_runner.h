#pragma once

#include <initializer_list>
#include <string>

namespace tiv::test {

struct cli_result {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs quorvel-cli in this process with captured streams.
cli_result run_cli(std::initializer_list<std::string> args);

// Runs the real quorvel-cli binary (path from QUORVEL_CLI) with the current environment.
cli_result run_cli_binary(const std::string& arguments);

} // namespace tiv::test
