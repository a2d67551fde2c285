// Benchmark runner that reports every case next to its reference from the same run, as a ratio of
// medians over interleaved repetitions, plus cases held to an absolute limit and noted figures.
#include "ratio.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

namespace lwbench {

namespace {

struct Entry {
    std::string reference;
    double target = 0; // a ratio for cases with a reference
    double limit = 0;  // seconds of processor time for limited cases
};

struct Figure {
    double value = 0;
    std::string unit;
};

std::map<std::string, Entry>& entries() {
    static std::map<std::string, Entry> e;
    return e;
}

std::vector<std::string>& order() {
    static std::vector<std::string> o;
    return o;
}

std::vector<std::pair<std::string, Figure>>& figures() {
    static std::vector<std::pair<std::string, Figure>> f;
    return f;
}

// Collects every repetition's time per iteration; passes medians (or single runs) to the console.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> seconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& r : runs) {
            const std::string& name = r.run_name.function_name;
            if (r.run_type == Run::RT_Iteration) {
                if (r.repetitions <= 1)
                    shown.push_back(r);
                if (r.iterations == 0 || r.error_occurred)
                    continue;
                const bool cpu = entries().count(name) && entries()[name].limit > 0;
                const double total = cpu ? r.cpu_accumulated_time : r.real_accumulated_time;
                seconds[name].push_back(total / static_cast<double>(r.iterations));
            } else if (r.aggregate_name == "median" || r.aggregate_name == "cv") {
                shown.push_back(r);
            }
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }

    bool median(const std::string& name, double* out) const {
        const auto it = seconds.find(name);
        if (it == seconds.end() || it->second.empty())
            return false;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        *out = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
        return true;
    }

    // The spread of a case's repetitions: (slowest - fastest) / median.
    double spread(const std::string& name, double median) const {
        const auto it = seconds.find(name);
        if (it == seconds.end() || it->second.size() < 2 || median <= 0)
            return 0;
        const auto [lo, hi] = std::minmax_element(it->second.begin(), it->second.end());
        return (*hi - *lo) / median;
    }
};

std::string human(double s) {
    char buf[64];
    if (s < 1e-6)
        std::snprintf(buf, sizeof buf, "%.0f ns", s * 1e9);
    else if (s < 1e-3)
        std::snprintf(buf, sizeof buf, "%.1f us", s * 1e6);
    else if (s < 1)
        std::snprintf(buf, sizeof buf, "%.2f ms", s * 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

std::string firstLineWith(const char* file, const char* prefix) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

bool hasFlag(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            return true;
    }
    return false;
}

} // namespace

benchmark::internal::Benchmark* addCase(const std::string& name, const std::string& reference, double target,
                                        std::function<void(benchmark::State&)> body) {
    entries()[name] = Entry{reference, target, 0};
    order().push_back(name);
    return benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& st) { body(st); })
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
}

benchmark::internal::Benchmark* addManualCase(const std::string& name, const std::string& reference,
                                              double target, std::function<void(benchmark::State&)> body) {
    entries()[name] = Entry{reference, target, 0};
    order().push_back(name);
    return benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& st) { body(st); })
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

benchmark::internal::Benchmark* addLimit(const std::string& name, double limitSeconds,
                                         std::function<void(benchmark::State&)> body) {
    entries()[name] = Entry{std::string(), 0, limitSeconds};
    order().push_back(name);
    return benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& st) { body(st); })
        ->Unit(benchmark::kMillisecond);
}

void note(const std::string& name, double value, const std::string& unit) {
    for (auto& [n, f] : figures()) {
        if (n == name) {
            f = Figure{value, unit};
            return;
        }
    }
    figures().emplace_back(name, Figure{value, unit});
}

int run(int argc, char** argv) {
    // Defaults first, so that the same flags given on the command line win.
    std::vector<std::string> storage;
    if (!hasFlag(argc, argv, "--benchmark_repetitions"))
        storage.push_back("--benchmark_repetitions=15");
    if (!hasFlag(argc, argv, "--benchmark_min_time"))
        storage.push_back("--benchmark_min_time=0.05");
    if (!hasFlag(argc, argv, "--benchmark_enable_random_interleaving"))
        storage.push_back("--benchmark_enable_random_interleaving=true");
    std::vector<char*> args;
    args.push_back(argv[0]);
    for (std::string& s : storage)
        args.push_back(s.data());
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    const std::string loadBefore = loadAverage();
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nmachine: %u processors, %s; load average before %s, after %s\n",
                std::thread::hardware_concurrency(), firstLineWith("/proc/cpuinfo", "model name").c_str(),
                loadBefore.c_str(), loadAverage().c_str());

    int misses = 0;
    bool header = false;
    for (const std::string& name : order()) {
        const Entry& e = entries()[name];
        double t = 0;
        double ref = 0;
        if (e.reference.empty() || !reporter.median(name, &t) || !reporter.median(e.reference, &ref))
            continue;
        if (!header) {
            std::printf("\n%-52s %11s %11s %8s %10s %7s\n", "case (median of repetitions)", "time",
                        "reference", "ratio", "target", "spread");
            header = true;
        }
        const double ratio = ref > 0 ? t / ref : 0;
        char target[32] = "-";
        if (e.target > 0)
            std::snprintf(target, sizeof target, "%gx%s", e.target, ratio <= e.target ? "" : " MISS");
        if (e.target > 0 && ratio > e.target)
            ++misses;
        std::printf("%-52s %11s %11s %7.2fx %10s %6.0f%%\n", name.c_str(), human(t).c_str(),
                    human(ref).c_str(), ratio, target,
                    100 * std::max(reporter.spread(name, t), reporter.spread(e.reference, ref)));
    }
    header = false;
    for (const std::string& name : order()) {
        const Entry& e = entries()[name];
        double t = 0;
        if (e.limit <= 0 || !reporter.median(name, &t))
            continue;
        if (!header) {
            std::printf("\n%-52s %11s %11s %8s %10s %7s\n", "case (thread processor time, median)", "time",
                        "limit", "", "", "spread");
            header = true;
        }
        if (t > e.limit)
            ++misses;
        std::printf("%-52s %11s %11s %8s %10s %6.0f%%\n", name.c_str(), human(t).c_str(),
                    human(e.limit).c_str(), "", t <= e.limit ? "" : "MISS", 100 * reporter.spread(name, t));
    }
    if (!figures().empty())
        std::printf("\n");
    for (const auto& [name, f] : figures())
        std::printf("%-52s %11.1f %s\n", name.c_str(), f.value, f.unit.c_str());
    std::printf("\n%d case(s) over target\n", misses);
    return 0;
}

} // namespace lwbench
