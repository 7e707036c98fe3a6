// Loading time of a registry hive as the registry loads it: a Wine hive file is
// copied into a scratch prefix as system.reg, and the first read of
// HKEY_LOCAL_MACHINE loads it; the registry is dropped between runs.
//
//   hive_load_bench [hive.reg] [N]
//
// Prints the milliseconds per load (file read and parse; median and best run) and
// per save (the text only).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hive.h"
#include "platform/machine.h"
#include "platform/registry.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : QB_DEFAULT_HIVE;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    const fs::path prefix =
        fs::temp_directory_path() / ("qb-hive-bench-" + std::to_string(::getpid()));
    int status = 0;
    try {
        fs::create_directories(prefix);
        fs::copy_file(file, prefix / "system.reg", fs::copy_options::overwrite_existing);
        qb::platform::Machine::use(prefix);
        std::vector<double> loads;
        size_t keys = 0;
        for (int i = 0; i < runs; ++i) {
            qb::platform::unloadRegistry();
            const auto start = Clock::now();
            qb::platform::Registry reg(qb::platform::RootKey::LocalMachine);
            keys += reg.keyNames().size();
            loads.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        // The median and the best run: a busy machine slows single runs down.
        std::sort(loads.begin(), loads.end());
        const double median = loads[loads.size() / 2];
        const double best = loads.front();
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        auto hive = qb::platform::hive::Hive::parse(text.str(), file);
        const auto start = Clock::now();
        size_t bytes = 0;
        for (int i = 0; i < runs; ++i)
            bytes += hive->serialize().size();
        const double saveMs =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf(
            "%s: %d runs, %.2f ms per load (median; best %.2f), %.2f ms per save (%zu bytes)\n",
            file.c_str(), runs, median, best, saveMs / runs, bytes / static_cast<size_t>(runs));
        if (keys == 0) status = 1;
    } catch (const std::exception& e) {
        std::cerr << "hive_load_bench: " << e.what() << '\n';
        status = 1;
    }
    qb::platform::unloadRegistry();
    std::error_code ec;
    fs::remove_all(prefix, ec);
    return status;
}
