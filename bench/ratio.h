// Benchmark runner that reports every case next to its reference from the same run, as a ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace lwbench {

// Registers a case and names the reference it is compared with (empty: it is a reference itself),
// and the ratio it should stay within (0: no target).
void addCase(const std::string& name, const std::string& reference, double target,
             std::function<void(benchmark::State&)> body);

// Runs the registered cases (Google Benchmark flags are accepted) and prints the ratio table.
int run(int argc, char** argv);

} // namespace lwbench
