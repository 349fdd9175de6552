// Timing and reporting helpers shared by the benchmarks.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// Best of several runs: the least disturbed measurement of a short task on a shared machine.
template <typename F>
double BestSeconds(F&& f, int runs = 5)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        if (d.count() < best) best = d.count();
    }
    return best;
}

// Prints "name: ratio r (goal <= g) ok" and returns whether the goal was met.
inline bool ReportRatio(const std::string& name, double ratio, const char* op, double goal)
{
    const bool ok = (op[0] == '<') ? ratio <= goal : ratio >= goal;
    std::printf("%s: ratio %.3f (goal %s %.3f) %s\n", name.c_str(), ratio, op, goal, ok ? "ok" : "MISSED");
    return ok;
}
