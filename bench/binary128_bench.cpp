// The binary128 arithmetic against GCC's __float128 arithmetic on the same operands: each
// operation is timed in both, then one line per operation tells how long ours takes for each
// time GCC's takes (below 1: ours is faster).
#include "fp/binary128.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using rump::fp::Binary128;
using rump::fp::Binary128Format;
using rump::fp::UInt128;

constexpr int pairCount = 4096;

// Normal numbers with random significands and signs and exponents within ±64 of zero: the common
// case, where no operation meets a special value, underflow or overflow.
struct Operands {
    std::array<Binary128, pairCount> x, y;
    std::array<__float128, pairCount> xGcc, yGcc;

    Operands() {
        std::mt19937_64 random(0x243f6a8885a308d3);
        const auto number = [&] {
            const auto field = static_cast<UInt128>(Binary128Format::bias - 64 + random() % 129);
            const UInt128 bits = (UInt128{random()} << 64 | random()) &
                                 (Binary128Format::signMask | Binary128Format::fractionMask);
            return Binary128::fromBits(bits | field << Binary128Format::fractionWidth);
        };
        for (int i = 0; i < pairCount; ++i) {
            x[i] = number();
            y[i] = number();
            std::memcpy(&xGcc[i], &x[i], sizeof x[i]);
            std::memcpy(&yGcc[i], &y[i], sizeof y[i]);
        }
    }
};

const Operands operands;

// One iteration applies the operation to every pair.
template <class Number, class Operation>
void run(benchmark::State& state, const std::array<Number, pairCount>& x,
         const std::array<Number, pairCount>& y, Operation operation) {
    for (auto _ : state) {
        for (int i = 0; i < pairCount; ++i) {
            Number result = operation(x[i], y[i]);
            benchmark::DoNotOptimize(result);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * pairCount);
}

template <class Operation>
void registerPair(const std::string& name, Operation operation) {
    benchmark::RegisterBenchmark((name + "/ours").c_str(), [=](benchmark::State& state) {
        run(state, operands.x, operands.y, operation);
    })->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark((name + "/gcc").c_str(), [=](benchmark::State& state) {
        run(state, operands.xGcc, operands.yGcc, operation);
    })->Unit(benchmark::kNanosecond);
}

// The console output, with the CPU time per operation of every benchmark kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Plain text, so that the output reads the same in a log as on a terminal.
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                nanoseconds_[run.benchmark_name()] = run.GetAdjustedCPUTime() / pairCount;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios(const std::vector<std::string>& names) const {
        for (const std::string& name : names) {
            const auto ours = nanoseconds_.find(name + "/ours");
            const auto gcc = nanoseconds_.find(name + "/gcc");
            if (ours != nanoseconds_.end() && gcc != nanoseconds_.end()) {
                std::printf("%s: ours %.2f ns, gcc %.2f ns, ratio ours/gcc %.2f\n", name.c_str(),
                            ours->second, gcc->second, ours->second / gcc->second);
            }
        }
    }

private:
    std::map<std::string, double> nanoseconds_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Generic lambdas: the same expression on Binary128 and on __float128.
    registerPair("multiply", [](auto x, auto y) { return x * y; });
    registerPair("divide", [](auto x, auto y) { return x / y; });
    registerPair("add", [](auto x, auto y) { return x + y; });
    registerPair("subtract", [](auto x, auto y) { return x - y; });

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios({"multiply", "divide", "add", "subtract"});
    benchmark::Shutdown();
    return 0;
}
