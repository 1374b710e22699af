#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Korvane
{
namespace Platform
{

// Runs a program with an argument vector, never through a command
// interpreter: every element reaches the program as one unchanged argument.
// arguments[0] is the program's path (no PATH search).

// Runs the program and blocks until it ends. Returns its exit status, 128 plus
// the signal number when a signal ended it, or -1 when it could not be started
// (empty vector, missing or non-executable program).
int RunProcess(const std::vector<std::string>& arguments);

// Starts the program and returns at once with its process id, or -1 when it
// could not be started. The caller reaps it with WaitProcess.
pid_t StartProcess(const std::vector<std::string>& arguments);

// Waits for a child started by StartProcess; result as for RunProcess. With
// `block` false returns -2 at once when the child is still running.
int WaitProcess(pid_t process, bool block = true);

} // namespace Platform
} // namespace Korvane
