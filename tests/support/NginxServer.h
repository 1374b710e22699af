#pragma once

#include <boost/filesystem/path.hpp>

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace Korvane
{
namespace Testing
{

// A real nginx (Debian's /usr/sbin/nginx) serving the directory `Root()` on
// 127.0.0.1 at a free port, as an independent peer for HTTP clients: its own
// 200, 206 and 416 answers, Content-Range and keep-alive. Its config, pid
// file, logs and temp directories live in a fresh temp directory, removed
// with the server. One process, no master, no daemon: the destructor stops it
// (SIGQUIT, then SIGKILL after a bound) and reaps it.
//
//   NginxServer nginx;
//   ASSERT_TRUE(nginx.Running()) << nginx.ErrorLog();
//   WriteFile(nginx.Root() / "files" / "Setup.dmg", contents);
//   client.Setup(nginx.Url("/files/Setup.dmg"));
class NginxServer
{
  public:
    static constexpr const char* kExecutable = "/usr/sbin/nginx";

    // Starts nginx and waits (bounded) until it accepts connections.
    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Whether nginx is installed at kExecutable.
    static bool Available();

    bool Running() const;
    // The directory served at "/".
    const boost::filesystem::path& Root() const { return mRoot; }
    uint16_t Port() const { return mPort; }
    // "127.0.0.1:PORT"
    std::string HostAndPort() const;
    // "http://127.0.0.1:PORT" + path
    std::string Url(const std::string& path) const;
    // nginx's error log, for failure messages.
    std::string ErrorLog() const;

  private:
    void WriteConfig() const;
    void Stop();

    boost::filesystem::path mDirectory;
    boost::filesystem::path mRoot;
    uint16_t mPort = 0;
    pid_t mPid = -1;
};

} // namespace Testing
} // namespace Korvane
