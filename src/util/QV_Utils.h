#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvb {

// 1234567 -> "1.234.567", whatever the locale.
std::string formatThousands(int64_t value);

// "1,5 KB", "1024 MB", "17 Bytes", "0 Bytes": 1024-based, at most two
// decimals with a decimal comma.
std::string formatFileSize(int64_t bytes);

// Starts directory/fileName with the argument vector `args` (argv[0] is the
// program path; pass "--" before file names yourself). Never uses a shell. A
// missing program or a failed start is reported in an error box with the German
// texts and gives false. With `pid` null the program runs on by itself and is
// reaped in the background; otherwise the caller gets its process id and must
// wait for it (see waitProgram).
bool runProgram(const std::string& fileName, const std::vector<std::string>& args,
                const std::string& directory, pid_t* pid = nullptr);

// Result of waiting for a started program.
enum class TWaitResult { Running, Exited, Failed };

// Waits up to `milliseconds` for the program; on Exited, `exitCode` holds its
// exit status (128 + signal number when a signal ended it).
TWaitResult waitProgram(pid_t pid, int milliseconds, int& exitCode);

// The German reason text for a failed start (errno of posix_spawn), as shown
// after "Windows-Fehlermeldung:".
std::string startFailureText(int errnum, const std::string& path);

// True when a new file can be created in `directory`. Probes with a name that
// does not exist yet and removes it again; never touches a file of the user and
// never follows a planted link.
bool isDirWritable(const std::string& directory);

}  // namespace qvb
