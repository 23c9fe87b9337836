#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/CopyIt.h"
#include "util/Sys.h"

namespace qvb {

// The size of a file (a link's own size), or -1 when there is none.
int64_t fileSize64(const std::string& path);

// Copies one file, trying its own copy first and then the system's copy
// programs, until one of them succeeds.
class TCopyFile : public TCopyIt {
public:
    TCopyFile();

    // True when the file was copied and the run was not cancelled.
    bool Execute() override;

    // Each takes the source and the full target path and reports its own failure.
    bool copyWithBlockWrite(const std::string& source, const std::string& target);
    bool copyWithXCopy(const std::string& source, const std::string& target);
    bool copyWithCopyFile(const std::string& source, const std::string& target);
    bool copyWithRobocopy(const std::string& source, const std::string& target);
    bool copyWithDosCopy(const std::string& source, const std::string& target);

    std::string fSource;
    std::string fDest;
    int64_t fBytesCopied = 0;
    uint8_t fFirstMethod = 0;

private:
    // How far an external program got.
    enum class TRunOutcome { NotFound, StartFailed, Failed, Succeeded, Cancelled };

    TRunOutcome runAndWait(const std::string& program, const std::string& source,
                           const std::string& target, std::vector<std::string> options);
    bool copyRegularFile(int sourceFd, const struct stat& st, const std::string& target);
    bool copyLink(const std::string& source, const std::string& target);
    bool moveData(int in, int out, int64_t size);
    void reportBlockWriteError(int err);

    // The source as opened by Execute, handed to the block copy so that the
    // file is opened and examined only once.
    sys::UniqueFd fSourceFd;
    struct stat fSourceStat {};
    std::string fOpenedSource;
    // True while an external program may have written the target directly.
    bool fTargetTouched = false;
    std::vector<char> fBuffer;
};

}  // namespace qvb
