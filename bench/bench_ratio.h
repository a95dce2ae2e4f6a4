// A console reporter that also prints, after all runs, the ratio of each
// benchmark's time per iteration to its peer's measured in the same run
// (e.g. a fill against memset of the same bytes). With repetitions or random
// interleaving the fastest run of each name counts: the one least disturbed
// by other work on the machine.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // pairs of (benchmark, peer) run names, e.g. {"BM_FillScreen", "BM_MemsetScreen"}
    explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs) : pairs_(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0) continue;
            const double t = r.cpu_accumulated_time / double(r.iterations);   // seconds, whatever the unit
            auto it = best_.find(r.run_name.str());
            if (it == best_.end() || t < it->second) best_[r.run_name.str()] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, peer] : pairs_) {
            auto a = best_.find(name), b = best_.find(peer);
            if (a == best_.end() || b == best_.end() || b->second <= 0) continue;
            std::printf("ratio %s / %s = %.2f\n", name.c_str(), peer.c_str(), a->second / b->second);
        }
        std::fflush(stdout);
    }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> best_;
};
