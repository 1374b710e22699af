// Cost of a log call on a channel without an entry and on an enabled one, with
// 1 and 4 threads logging at once, beside spdlog's asynchronous logger on the
// same lines (when built with libspdlog-dev). Run with standard output sent
// to /dev/null:
//   build/bench/log_bench > /dev/null   (results go to standard error)
// Per-call CPU time is the figure to quote: on a machine shared with other
// work the wall time per call also counts the time other processes held the
// cores.
#include "basictools/logger/CLog.h"

#include <benchmark/benchmark.h>

#ifdef UPDATER_BENCH_SPDLOG
#include <spdlog/async.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#endif

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

// Nothing enabled at all, as the system runs by default.
void BM_BuildLogEmptyTable(benchmark::State& state)
{
    CLog* log = CSingleton<CLog>::getInstance();
    if (state.thread_index() == 0)
        log->SetChannelLevels({});
    const std::string sku = "product";
    for (auto _ : state)
        log->buildLog("update_manager", eLogInfo, " Product ", sku, " status ", 3);
    if (state.thread_index() == 0)
        log->SetChannelLevels({{"download", eLogInfo}});
}
BENCHMARK(BM_BuildLogEmptyTable)->Threads(1);

void BM_BuildLogEnabledChannel(benchmark::State& state)
{
    CLog* log = EnabledLog();
    const std::string sku = "product";
    for (auto _ : state)
        log->buildLog("download", eLogInfo, " Product ", sku, " status ", 3);
}
BENCHMARK(BM_BuildLogEnabledChannel)->Threads(1)->Threads(4);

#ifdef UPDATER_BENCH_SPDLOG
// One asynchronous logger per channel on spdlog's shared thread pool, writing
// to standard output with a pattern of the same fields. Full queues drop the
// oldest line, as the log's rings overwrite undrained text.
std::shared_ptr<spdlog::logger> SpdlogChannel(const std::string& channel, bool enabled)
{
    static std::once_flag poolCreated;
    std::call_once(poolCreated, [] { spdlog::init_thread_pool(8192, 1); });
    auto logger = spdlog::get(channel);
    if (!logger)
    {
        auto sink = std::make_shared<spdlog::sinks::stdout_sink_mt>();
        logger = std::make_shared<spdlog::async_logger>(
            channel, sink, spdlog::thread_pool(), spdlog::async_overflow_policy::overrun_oldest);
        logger->set_pattern("[LOG] %-6o | %-5t | %-15n | %-6l | %v");
        spdlog::register_logger(logger);
    }
    logger->set_level(enabled ? spdlog::level::info : spdlog::level::off);
    return logger;
}

void BM_SpdlogAsyncDisabledChannel(benchmark::State& state)
{
    auto logger = SpdlogChannel("update_manager", false);
    const std::string sku = "product";
    for (auto _ : state)
        logger->info(" Product {} status {}", sku, 3);
}
BENCHMARK(BM_SpdlogAsyncDisabledChannel)->Threads(1)->Threads(4);

void BM_SpdlogAsyncEnabledChannel(benchmark::State& state)
{
    auto logger = SpdlogChannel("download", true);
    const std::string sku = "product";
    for (auto _ : state)
        logger->info(" Product {} status {}", sku, 3);
}
BENCHMARK(BM_SpdlogAsyncEnabledChannel)->Threads(1)->Threads(4);
#endif
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
#ifdef UPDATER_BENCH_SPDLOG
    spdlog::shutdown();
#endif
    return 0;
}
