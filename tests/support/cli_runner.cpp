#include "support/cli_runner.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>
#include <vector>

#include "cli/cli.h"

namespace tiv::test {

cli_result run_cli(std::initializer_list<std::string> args) {
    std::vector<const char*> argv = {"quorvel-cli"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    cli_result result;
    result.code = cli::run(static_cast<int>(argv.size()), argv.data(), out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

cli_result run_cli_binary(const std::string& arguments) {
    cli_result result;
    const char* binary = std::getenv("QUORVEL_CLI");
    if (binary == nullptr) {
        result.err = "QUORVEL_CLI is not set";
        return result;
    }
    const std::string command = std::string("'") + binary + "' " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> chunk{};
    while (std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
        result.out.append(chunk.data(), got);
    }
    const int status = ::pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace tiv::test
