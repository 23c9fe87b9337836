#pragma once

// A few threads that copy small files for the mirror while its own thread
// walks on. Each copy is done by a copier of the worker's own that raises no
// events; what it reports is kept with the file and handed to the window's
// thread, which issues it in the order of the list.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/CopyFile.h"
#include "engine/CopyStatus.h"

namespace qvb {

class TCopyFile;

// One file for a worker: what to copy, and, once done, how it went.
struct TPoolCopy {
    std::string source;
    std::string target;
    int dirFd = -1;  // the target's folder; stays open until the file is issued
    bool targetMissing = false;
    TListedStatus listed;
    int sourceDir = AT_FDCWD;  // the source's folder; stays open until the file is issued

    bool copied = false;
    TCopyStatus status = csIdle;
    std::vector<std::string> lines;
    int64_t bytesCopied = 0;
    int32_t percent = 0;
    int attributeError = 0;
    int timesError = 0;
    int xattrError = 0;
    std::exception_ptr failure;  // rethrown on the thread that issues the file

  private:
    friend class TCopyPool;
    std::atomic<bool> fDone{false};  // set under the pool's lock
};

class TCopyPool {
  public:
    // `firstMethod`: the copier's first copy method, as the mirror's copier has it.
    TCopyPool(int workers, uint8_t firstMethod);
    // Lets every copy already begun end and starts no other.
    ~TCopyPool();
    TCopyPool(const TCopyPool&) = delete;
    TCopyPool& operator=(const TCopyPool&) = delete;

    // `copy` must stay where it is until the pool is stopped or reports it
    // done. Idle workers are woken only once a few copies wait, so that they
    // do not sleep and wake for every small file.
    void submit(TPoolCopy& copy);
    // Wakes idle workers for whatever waits (the caller is about to be busy).
    void wake();
    // Copies the oldest file still waiting on the calling thread, as a worker
    // would; false when none waits. The caller does a worker's share instead
    // of sleeping until one ends.
    bool copyOneHere();
    // Waits at most `timeout` for `copy`; true when it is done.
    bool waitFor(const TPoolCopy& copy, std::chrono::milliseconds timeout);
    static bool isDone(const TPoolCopy& copy) { return copy.fDone.load(std::memory_order_acquire); }
    // The copies begun end; those still queued are never begun.
    void stop();

  private:
    void work();
    TPoolCopy* takeNext();  // under the lock
    void copyWith(TCopyFile& copier, TPoolCopy& copy);

    std::mutex fMutex;
    std::condition_variable fQueued;
    std::condition_variable fFinished;
    std::deque<TPoolCopy*> fQueue;
    int fIdle = 0;                        // workers waiting for a copy
    const TPoolCopy* fAwaited = nullptr;  // the copy waitFor waits for
    bool fStopping = false;
    const uint8_t fFirstMethod;
    std::unique_ptr<TCopyFile> fCallersCopier;  // made by the first copyOneHere
    std::vector<std::thread> fThreads;
};

}  // namespace qvb
