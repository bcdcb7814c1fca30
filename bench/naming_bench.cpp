// Cost of storing many parcels of one name: each finds its free "name(n)" beside all the earlier ones. The time per
// file must stay flat as the count grows; a search that tries every number from 1 grows with it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/box/parcel_names.h"

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 4000;
    const std::filesystem::path directory = std::filesystem::temp_directory_path() / "quorvel-naming-bench";
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    for (int i = 1; i <= files; ++i) {
        const std::string temporary = (directory / tiv::temporary_parcel_name()).string();
        std::ofstream(temporary) << 'x';
        if (!tiv::move_without_replacing(temporary, directory.string(), "same.txt")) {
            std::fprintf(stderr, "file %d could not be stored\n", i);
            return 1;
        }
        if (i % 1000 == 0) {
            const auto now = std::chrono::steady_clock::now();
            std::printf("files %5d: %.1f µs per file over the last 1000\n", i,
                        std::chrono::duration<double, std::micro>(now - last).count() / 1000);
            last = now;
        }
    }
    std::printf("%d files of one name in %.2f s\n", files,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::filesystem::remove_all(directory);
    return 0;
}
