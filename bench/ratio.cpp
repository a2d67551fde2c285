// Benchmark runner that reports every case next to its reference from the same run, as a ratio.
#include "ratio.h"

#include <cstdio>
#include <map>
#include <vector>

namespace lwbench {

namespace {

struct Pairing {
    std::string reference;
    double target = 0;
};

std::map<std::string, Pairing>& pairings() {
    static std::map<std::string, Pairing> p;
    return p;
}

std::vector<std::string>& order() {
    static std::vector<std::string> o;
    return o;
}

// Keeps the console output and remembers each case's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0 || r.error_occurred)
                continue;
            seconds[r.run_name.function_name] = r.real_accumulated_time / static_cast<double>(r.iterations);
        }
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

} // namespace

void addCase(const std::string& name, const std::string& reference, double target,
             std::function<void(benchmark::State&)> body) {
    pairings()[name] = Pairing{reference, target};
    order().push_back(name);
    benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& st) { body(st); })
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
}

int run(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-58s %12s %12s %8s %8s\n", "case", "time", "reference", "ratio", "target");
    int misses = 0;
    for (const std::string& name : order()) {
        const Pairing& p = pairings()[name];
        if (p.reference.empty() || !reporter.seconds.count(name) || !reporter.seconds.count(p.reference))
            continue;
        const double t = reporter.seconds[name];
        const double ref = reporter.seconds[p.reference];
        const double ratio = ref > 0 ? t / ref : 0;
        char target[32] = "-";
        if (p.target > 0)
            std::snprintf(target, sizeof target, "%.1fx%s", p.target, ratio <= p.target ? "" : " MISS");
        if (p.target > 0 && ratio > p.target)
            ++misses;
        std::printf("%-58s %12s %12s %7.2fx %8s\n", name.c_str(), human(t).c_str(), human(ref).c_str(), ratio,
                    target);
    }
    std::printf("%d case(s) over target\n", misses);
    return 0;
}

} // namespace lwbench
