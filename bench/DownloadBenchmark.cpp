// Download of one installer from a loopback nginx, against what a user would
// otherwise run on the same file from the same server: curl -o, then md5sum.
//
//   build/bench/download_bench [--runs N] [--size-mib N] [--large]
//
// --large serves 1 GiB instead of 256 MiB. Everything (the served file, the
// downloads, nginx's config, pid file and logs) lives in one directory under
// /tmp, removed at the end. For each side the median over the runs of wall
// time, CPU time and peak RSS is printed, with nginx's CPU time per run and
// the ratios; then the checksum alone: Check::ComputeChecksum against md5sum.
#include "resources/Check.h"
#include "resources/Downloader.h"

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
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = boost::filesystem;
using Korvane::UpdateManager::Check;
using Korvane::UpdateManager::DownloaderBackgrounder;
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

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
double StatusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::atof(line.c_str() + field.size() + 1);
    return 0;
}

// Lets VmHWM start again from the current RSS.
void ResetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
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
    const double rssBefore = StatusKiB("VmRSS");
    const double serverBefore = server.Cpu();
    const double cpuBefore = SelfCpu();
    const auto start = Clock::now();
    downloader.StartDownload(data);
    while (!downloader.HasStopped())
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    sample.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    sample.cpuSeconds = SelfCpu() - cpuBefore;
    sample.serverCpuSeconds = server.Cpu() - serverBefore;
    const double peak = StatusKiB("VmHWM");
    sample.peakRssMiB = peak / 1024;
    sample.rssGrowthMiB = (peak - rssBefore) / 1024;
    ok = downloader.mTransferState.load() == DownloaderBackgrounder::TransferComplete &&
         downloader.mComputedChecksum == md5;
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

            DownloaderBackgrounder downloader("bench");
            std::vector<Sample> ours, theirs;
            bool allOk = true;
            for (int run = 0; run < runs; ++run)
            {
                bool ok = false;
                ours.push_back(RunDownloader(downloader, url, destination, md5,
                                             static_cast<int64_t>(size), server, ok));
                allOk = allOk && ok;
                theirs.push_back(RunCurlAndMd5sum(url, destination, server, ok));
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
            const double wallRatio =
                MedianOf(ours, &Sample::wallSeconds) / MedianOf(theirs, &Sample::wallSeconds);
            const double checkRate = mib / Median(checkTimes);
            const double md5sumRate = mib / Median(md5sumTimes);
            std::printf("wall ratio (ours / curl+md5sum): %.2fx (bar: at most 2.0x)\n", wallRatio);
            std::printf("checksum: Check::ComputeChecksum %.1f MiB/s, md5sum %.1f MiB/s, ratio "
                        "%.2fx (bar: at least 0.75x)\n",
                        checkRate, md5sumRate, checkRate / md5sumRate);
            double worstGrowth = 0;
            for (const auto& sample : ours)
                worstGrowth = std::max(worstGrowth, sample.rssGrowthMiB);
            std::printf("download peak RSS growth, worst run: %.1f MiB (bar: under 8 MiB)\n",
                        worstGrowth);
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
