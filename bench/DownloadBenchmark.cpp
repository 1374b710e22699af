// Download of one installer from a loopback nginx, against what a user would
// otherwise run on the same file from the same server: curl -o, then md5sum.
//
//   build/bench/download_bench [--runs N] [--size-mib N] [--large]
//
// --large serves 1 GiB instead of 256 MiB. Everything (the served files, the
// downloads, nginx's config, pid file and logs) lives in one directory under
// /tmp, removed at the end. Each run does, one after the other: the download
// worker, curl -o + md5sum, the worker's former sequential path (HttpClient
// into an std::ofstream, then Check::ComputeChecksum over the file) and the
// worker on a 1 MiB file. For each side the median over the runs of wall
// time, CPU time and peak RSS is printed, with nginx's CPU time per run and
// the ratios; then the peak RSS of the large download against the 1 MiB one,
// and the checksum alone: Check::ComputeChecksum against md5sum.
#include "ProcessMemory.h"
#include "resources/Check.h"
#include "resources/Downloader.h"
#include "resources/HttpClient.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = boost::filesystem;
using Korvane::Bench::PeakRssKiB;
using Korvane::Bench::ResetPeakRss;
using Korvane::Bench::RssKiB;
using Korvane::UpdateManager::Check;
using Korvane::UpdateManager::DownloaderBackgrounder;
using Korvane::UpdateManager::HttpClient;
using Clock = std::chrono::steady_clock;

namespace
{
struct Sample
{
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double serverCpuSeconds = 0;
    double peakRssMiB = 0; // peak RSS of the measured process(es)
    double rssGrowthMiB = 0;
};

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuOf(const rusage& usage)
{
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double SelfCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuOf(usage);
}

// CPU time of the calling thread: the benchmark's own waiting, taken out of
// the process's figure so that only the download's threads are counted.
double ThreadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ProcessCpu(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index)
    {
        if (index == 14)
            utime = std::atof(field.c_str());
        if (index == 15)
        {
            stime = std::atof(field.c_str());
            break;
        }
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t Spawn(const std::vector<std::string>& arguments, bool quiet)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs a command to its end; adds its CPU time and keeps the largest peak RSS.
bool RunCommand(const std::vector<std::string>& arguments, Sample& sample)
{
    const pid_t pid = Spawn(arguments, true);
    if (pid < 0)
        return false;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    sample.cpuSeconds += CpuOf(usage);
    sample.peakRssMiB = std::max(sample.peakRssMiB, static_cast<double>(usage.ru_maxrss) / 1024);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint16_t FreeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

// nginx in one process (no master), so that its CPU time is one /proc entry.
class Nginx
{
  public:
    Nginx(const fs::path& directory, uint16_t port) : mPort(port)
    {
        const fs::path config = directory / "nginx.conf";
        std::ofstream out(config.string());
        const std::string d = directory.string();
        out << "daemon off;\nmaster_process off;\nworker_processes 1;\nuser root;\n"
            << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
            << "events { worker_connections 64; }\n"
            << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
            << "  client_body_temp_path " << d << "/client;\n"
            << "  proxy_temp_path " << d << "/proxy;\n"
            << "  fastcgi_temp_path " << d << "/fastcgi;\n"
            << "  uwsgi_temp_path " << d << "/uwsgi;\n"
            << "  scgi_temp_path " << d << "/scgi;\n"
            << "  types { application/octet-stream dmg; }\n"
            << "  server { listen 127.0.0.1:" << port << "; root " << d << "/www; }\n}\n";
        out.close();
        mPid = Spawn({"/usr/sbin/nginx", "-p", d, "-c", config.string()}, false);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (mPid > 0 && !Accepts(port) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ~Nginx()
    {
        if (mPid > 0)
        {
            kill(mPid, SIGQUIT);
            waitpid(mPid, nullptr, 0);
        }
    }

    bool Running() const { return mPid > 0 && Accepts(mPort); }
    double Cpu() const { return ProcessCpu(mPid); }

  private:
    uint16_t mPort;
    pid_t mPid = -1;
};

void WriteSource(const fs::path& file, uint64_t size)
{
    std::ofstream out(file.string(), std::ios::binary);
    std::vector<uint64_t> block(1 << 17); // 1 MiB
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (uint64_t written = 0; written < size; written += block.size() * 8)
    {
        for (auto& word : block)
        {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        out.write(
            reinterpret_cast<const char*>(block.data()),
            static_cast<std::streamsize>(std::min<uint64_t>(block.size() * 8, size - written)));
    }
}

Sample RunDownloader(DownloaderBackgrounder& downloader, const std::string& url,
                     const fs::path& destination, const std::string& md5, int64_t size,
                     const Nginx& server, bool& ok)
{
    fs::remove(destination);
    DownloaderBackgrounder::Data data;
    data.mUrl = url;
    data.mDestination = destination;
    data.mExpectedChecksum = md5;
    data.mExpectedSize = size;

    Sample sample;
    ResetPeakRss();
    const double rssBefore = RssKiB();
    const double serverBefore = server.Cpu();
    const double cpuBefore = SelfCpu();
    const double waitingBefore = ThreadCpu();
    const auto start = Clock::now();
    downloader.StartDownload(data);
    while (!downloader.HasStopped())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sample.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    sample.cpuSeconds = SelfCpu() - cpuBefore - (ThreadCpu() - waitingBefore);
    sample.serverCpuSeconds = server.Cpu() - serverBefore;
    const double peak = PeakRssKiB();
    sample.peakRssMiB = peak / 1024;
    sample.rssGrowthMiB = (peak - rssBefore) / 1024;
    ok = downloader.mTransferState.load() == DownloaderBackgrounder::TransferComplete &&
         downloader.mComputedChecksum == md5;
    fs::remove(destination);
    return sample;
}

// What the worker did before the sink: 8 KiB writes through an std::ofstream,
// then a second pass over the finished file for the MD5. Run on a thread of
// its own, as the worker's job is.
Sample RunSequential(HttpClient& client, const std::string& url, const fs::path& destination,
                     const std::string& md5, bool& ok)
{
    fs::remove(destination);
    Sample sample;
    ResetPeakRss();
    const double rssBefore = RssKiB();
    const double cpuBefore = SelfCpu();
    const double waitingBefore = ThreadCpu();
    const auto start = Clock::now();
    std::string checksum;
    std::thread job(
        [&]
        {
            std::ofstream out(destination.string(), std::ios::binary | std::ios::app);
            client.StartingAt(0).Setup(url);
            if (client.HasSetupSucceeded())
                while (client.HasBytesToRead())
                    if (client.Read(out) == 0)
                        break;
            out.close();
            checksum = Check::ComputeChecksum(destination);
        });
    job.join();
    sample.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    sample.cpuSeconds = SelfCpu() - cpuBefore - (ThreadCpu() - waitingBefore);
    const double peak = PeakRssKiB();
    sample.peakRssMiB = peak / 1024;
    sample.rssGrowthMiB = (peak - rssBefore) / 1024;
    ok = checksum == md5;
    fs::remove(destination);
    return sample;
}

Sample RunCurlAndMd5sum(const std::string& url, const fs::path& destination, const Nginx& server,
                        bool& ok)
{
    fs::remove(destination);
    Sample sample;
    const double serverBefore = server.Cpu();
    const auto start = Clock::now();
    ok = RunCommand({"/usr/bin/curl", "-s", "-o", destination.string(), url}, sample) &&
         RunCommand({"/usr/bin/md5sum", destination.string()}, sample);
    sample.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    sample.serverCpuSeconds = server.Cpu() - serverBefore;
    fs::remove(destination);
    return sample;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

template <typename Field> double MedianOf(const std::vector<Sample>& samples, Field field)
{
    std::vector<double> values;
    for (const auto& sample : samples)
        values.push_back(sample.*field);
    return Median(values);
}

void PrintRow(const char* name, const std::vector<Sample>& samples, double mib)
{
    const double wall = MedianOf(samples, &Sample::wallSeconds);
    std::printf("%-22s %9.3f %9.1f %9.3f %11.3f %9.1f %11.1f\n", name, wall, mib / wall,
                MedianOf(samples, &Sample::cpuSeconds),
                MedianOf(samples, &Sample::serverCpuSeconds),
                MedianOf(samples, &Sample::peakRssMiB), MedianOf(samples, &Sample::rssGrowthMiB));
}
} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    uint64_t sizeMiB = 256;
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (argument == "--large")
            sizeMiB = 1024;
        else if (argument == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--size-mib" && i + 1 < argc)
            sizeMiB = std::max(1, std::atoi(argv[++i]));
        else
        {
            std::fprintf(stderr, "usage: %s [--runs N] [--size-mib N] [--large]\n", argv[0]);
            return 2;
        }
    }
    const uint64_t size = sizeMiB << 20;
    const double mib = static_cast<double>(sizeMiB);

    const fs::path directory =
        fs::temp_directory_path() / fs::unique_path("updater-bench-%%%%-%%%%");
    fs::create_directories(directory / "www");
    int status = 0;
    {
        const fs::path source = directory / "www" / "Setup.dmg";
        WriteSource(source, size);
        const fs::path smallSource = directory / "www" / "Small.dmg";
        WriteSource(smallSource, uint64_t{1} << 20);
        const uint16_t port = FreeLoopbackPort();
        Nginx server(directory, port);
        if (!server.Running())
        {
            std::fprintf(stderr, "nginx did not start; see %s/error.log\n", directory.c_str());
            status = 1;
        }
        else
        {
            const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/Setup.dmg";
            const fs::path destination = directory / "Setup.dmg";
            const std::string md5 = Check::ComputeChecksum(source);
            std::printf("file: %llu MiB, md5 %s, server 127.0.0.1:%u, %d runs (median)\n",
                        static_cast<unsigned long long>(sizeMiB), md5.c_str(), port, runs);

            const std::string smallUrl = "http://127.0.0.1:" + std::to_string(port) + "/Small.dmg";
            const std::string smallMd5 = Check::ComputeChecksum(smallSource);

            DownloaderBackgrounder downloader("bench");
            HttpClient client;
            std::vector<Sample> ours, theirs, sequential, small;
            bool allOk = true;
            for (int run = 0; run < runs; ++run)
            {
                bool ok = false;
                ours.push_back(RunDownloader(downloader, url, destination, md5,
                                             static_cast<int64_t>(size), server, ok));
                allOk = allOk && ok;
                theirs.push_back(RunCurlAndMd5sum(url, destination, server, ok));
                allOk = allOk && ok;
                sequential.push_back(RunSequential(client, url, destination, md5, ok));
                allOk = allOk && ok;
                small.push_back(RunDownloader(downloader, smallUrl, destination, smallMd5,
                                              int64_t{1} << 20, server, ok));
                allOk = allOk && ok;
            }

            // The checksum alone, on the served file (in the page cache by now).
            std::vector<double> checkTimes, md5sumTimes;
            for (int run = 0; run < runs; ++run)
            {
                auto start = Clock::now();
                allOk = allOk && Check::ComputeChecksum(source) == md5;
                checkTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
                Sample ignored;
                start = Clock::now();
                allOk = allOk && RunCommand({"/usr/bin/md5sum", source.string()}, ignored);
                md5sumTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            }

            std::printf("%-22s %9s %9s %9s %11s %9s %11s\n", "", "wall s", "MiB/s", "cpu s",
                        "server cpu", "peak MiB", "growth MiB");
            PrintRow("DownloaderBackgrounder", ours, mib);
            PrintRow("curl -o + md5sum", theirs, mib);
            PrintRow("sequential (before)", sequential, mib);
            PrintRow("worker, 1 MiB file", small, 1.0);
            const auto ratio = [](const std::vector<Sample>& a, const std::vector<Sample>& b,
                                  double Sample::*field)
            { return MedianOf(a, field) / MedianOf(b, field); };
            std::printf("wall ratio (ours / curl+md5sum): %.2fx (bar: at most 1.0x)\n",
                        ratio(ours, theirs, &Sample::wallSeconds));
            std::printf("cpu ratio  (ours / curl+md5sum): %.2fx (bar: at most 1.5x)\n",
                        ratio(ours, theirs, &Sample::cpuSeconds));
            std::printf("before/after: wall %.2fx, cpu %.2fx (ours / sequential)\n",
                        ratio(ours, sequential, &Sample::wallSeconds),
                        ratio(ours, sequential, &Sample::cpuSeconds));
            std::printf(
                "peak RSS: %.1f MiB during the %llu MiB download, %.1f MiB during the "
                "1 MiB one, ratio %.2fx (bar: at most 1.2x)\n",
                MedianOf(ours, &Sample::peakRssMiB), static_cast<unsigned long long>(sizeMiB),
                MedianOf(small, &Sample::peakRssMiB), ratio(ours, small, &Sample::peakRssMiB));
            const double checkRate = mib / Median(checkTimes);
            const double md5sumRate = mib / Median(md5sumTimes);
            std::printf("checksum: Check::ComputeChecksum %.1f MiB/s, md5sum %.1f MiB/s, ratio "
                        "%.2fx (bar: at least 0.9x)\n",
                        checkRate, md5sumRate, checkRate / md5sumRate);
            double loads[3] = {0, 0, 0};
            if (getloadavg(loads, 3) == 3)
                std::printf("load average at the end: %.2f %.2f %.2f (%ld cores)\n", loads[0],
                            loads[1], loads[2], sysconf(_SC_NPROCESSORS_ONLN));
            if (!allOk)
            {
                std::fprintf(stderr, "a download or checksum went wrong\n");
                status = 1;
            }
        }
    }
    boost::system::error_code ignored;
    fs::remove_all(directory, ignored);
    return status;
}
