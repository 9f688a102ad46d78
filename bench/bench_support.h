// Timing against memcpy of the same bytes, in the same run and from cold
// caches, shared by the benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

inline double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <typename Work> double Time(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return Seconds(std::chrono::steady_clock::now() - start);
}

// A frame fresh from the camera is not in the cache, and neither is what a
// memcpy of the same size would copy: both start from memory.
inline void EvictCaches() {
    static std::vector<uint8_t> sweep(size_t{96} << 20);
    for (size_t i = 0; i < sweep.size(); i += 64)
        sweep[i] = static_cast<uint8_t>(sweep[i] + 1);
    benchmark::ClobberMemory();
}

// Times `work` (after `prepare`, untimed) and a memcpy of `bytes` in turn,
// each from cold caches. The ratio compares the best time of each, which
// other load on the machine disturbs least.
template <typename Prepare, typename Work>
void RunAgainstMemcpy(benchmark::State &state, size_t bytes, Prepare prepare, Work work) {
    std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
    double bestWork = 1e9, bestCopy = 1e9;
    for (auto _ : state) {
        EvictCaches();
        bestCopy = std::min(bestCopy, Time([&] {
                                std::memcpy(to.data(), from.data(), bytes);
                                benchmark::DoNotOptimize(to.data());
                            }));
        prepare();
        EvictCaches();
        const double t = Time(work);
        bestWork = std::min(bestWork, t);
        state.SetIterationTime(t);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["vs_memcpy"] = bestCopy / bestWork;
    state.counters["best_ms"] = bestWork * 1e3;
    state.counters["memcpy_best_ms"] = bestCopy * 1e3;
}
