#pragma once

#include <benchmark/benchmark.h>
#include <string>

/** How the benchmarks name what they measure, so that benchmarks/run can pair every figure
    with its baseline and print them as one table.

    A timed case is two benchmarks, "<item>|<case>|quillmere" and "<item>|<case>|baseline",
    measured in the same run; the table compares their times per iteration, each divided by
    the benchmark's counter "per_iteration" when it has one (a batch of calls per iteration).
    Figures that are not times come from one benchmark "<item>|<case>|rows", each as a counter
    "row:<what>" with its baseline beside it as "base:<what>".
*/
namespace benchmark_names
{
    inline std::string timed (const std::string& item, const std::string& caseName, bool isBaseline)
    {
        return item + "|" + caseName + "|" + (isBaseline ? "baseline" : "quillmere");
    }

    inline std::string rows (const std::string& item, const std::string& caseName)
    {
        return item + "|" + caseName + "|rows";
    }

    /** Sets one row of figures on a "rows" benchmark. */
    inline void setRow (benchmark::State& state, const std::string& what, double value, double baseline)
    {
        state.counters["row:" + what] = value;
        state.counters["base:" + what] = baseline;
    }

    /** Tells the table how many calls one iteration of a timed benchmark makes. */
    inline void setCallsPerIteration (benchmark::State& state, double calls)
    {
        state.counters["per_iteration"] = calls;
    }
}
