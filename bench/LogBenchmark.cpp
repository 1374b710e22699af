// Cost of a log call on a channel without an entry and on an enabled one.
// Run with standard output sent to /dev/null:
//   build/bench/log_bench > /dev/null   (results go to standard error)
#include "basictools/logger/CLog.h"

#include <benchmark/benchmark.h>

#include <iostream>

namespace
{
CLog* EnabledLog()
{
    CLog* log = CSingleton<CLog>::getInstance();
    log->SetChannelLevels({{"download", eLogInfo}});
    return log;
}

void BM_BuildLogDisabledChannel(benchmark::State& state)
{
    CLog* log = EnabledLog();
    const std::string sku = "product";
    for (auto _ : state)
        log->buildLog("update_manager", eLogInfo, " Product ", sku, " status ", 3);
}
BENCHMARK(BM_BuildLogDisabledChannel)->Threads(1)->Threads(4);

void BM_BuildLogEnabledChannel(benchmark::State& state)
{
    CLog* log = EnabledLog();
    const std::string sku = "product";
    for (auto _ : state)
        log->buildLog("download", eLogInfo, " Product ", sku, " status ", 3);
}
BENCHMARK(BM_BuildLogEnabledChannel)->Threads(1)->Threads(4);
} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // Results on standard error; the log's own output (standard output) is the
    // part to send to /dev/null.
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    CSingleton<CLog>::destroyInstance();
    return 0;
}
