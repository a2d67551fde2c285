// Benchmark runner that reports every case next to its reference from the same run, as a ratio of
// medians over interleaved repetitions, plus cases held to an absolute limit and noted figures.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace lwbench {

// Registers a case timed by the wall clock and names the reference it is compared with (empty: it
// is a reference itself) and the ratio it should stay within (0: no target).
benchmark::internal::Benchmark* addCase(const std::string& name, const std::string& reference, double target,
                                        std::function<void(benchmark::State&)> body);

// As addCase, for a body that measures each iteration itself and reports it with
// State::SetIterationTime (seconds of wall-clock time).
benchmark::internal::Benchmark* addManualCase(const std::string& name, const std::string& reference,
                                              double target, std::function<void(benchmark::State&)> body);

// Registers a case whose time per iteration should stay under limitSeconds, timed as the
// processor time of the thread that runs it (the user-interface thread, for window cases), so
// that work done by others on a shared machine does not count.
benchmark::internal::Benchmark* addLimit(const std::string& name, double limitSeconds,
                                         std::function<void(benchmark::State&)> body);

// A figure that is not a time (memory, counts), printed with the summary; the last value noted
// under a name wins.
void note(const std::string& name, double value, const std::string& unit);

// Runs the registered cases and prints the summary tables. Unless the command line says
// otherwise, each case runs 15 short repetitions (at least 0.05 s each), interleaved at random
// with the other cases' repetitions so that a busy moment of a shared machine falls on all of
// them alike, and its median is used. Google Benchmark flags are accepted.
int run(int argc, char** argv);

} // namespace lwbench
