// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// A benchmark scenario prints its figures as "scenario.figure: value unit" lines.
namespace bench {

using Scenario = std::function<void()>;

// Registered from each scenario's file; returns a dummy so it can initialise a static.
bool registerScenario(const char* name, Scenario scenario);

void report(const char* scenario, const char* figure, double value, const char* unit);

// Milliseconds since an arbitrary start, with sub-millisecond resolution.
double nowMs();
// Bytes handed out by malloc and still in use: what a data structure holds in memory.
double heapMb();
// The largest resident size the process has reached.
double peakRssMb();

} // namespace bench

#define BENCH_SCENARIO(name, function)                                                                       \
    static const bool benchRegistered_##function = bench::registerScenario(name, function)
