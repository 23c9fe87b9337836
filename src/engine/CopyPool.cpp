#include "engine/CopyPool.h"

#include "engine/CopyFile.h"

namespace qvb {

namespace {

// Copies that wait before an idle worker is woken.
constexpr size_t kWakeBatch = 16;

// A copier that reports nothing to the window: what it says is kept with the
// file and issued later by the walking thread.
std::unique_ptr<TCopyFile> quietCopier(uint8_t firstMethod) {
    auto copier = std::make_unique<TCopyFile>();
    copier->fOffThread = true;
    copier->fFirstMethod = firstMethod;
    // A run on one thread has no such copier: its trace line would be extra.
    copier->takeMessages();
    return copier;
}

}  // namespace

TCopyPool::TCopyPool(int workers, uint8_t firstMethod) : fFirstMethod(firstMethod) {
    fThreads.reserve(static_cast<size_t>(workers));
    try {
        for (int i = 0; i < workers; ++i) fThreads.emplace_back([this] { work(); });
    } catch (...) {
        stop();
        throw;
    }
}

TCopyPool::~TCopyPool() {
    stop();
}

void TCopyPool::submit(TPoolCopy& copy) {
    bool wakeOne = false;
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        fQueue.push_back(&copy);
        wakeOne = fIdle > 0 && fQueue.size() >= kWakeBatch;
    }
    if (wakeOne) fQueued.notify_one();
}

void TCopyPool::wake() {
    bool wakeAll = false;
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        wakeAll = fIdle > 0 && !fQueue.empty();
    }
    if (wakeAll) fQueued.notify_all();
}

bool TCopyPool::waitFor(const TPoolCopy& copy, std::chrono::milliseconds timeout) {
    wake();
    std::unique_lock<std::mutex> lock(fMutex);
    fAwaited = &copy;
    const bool done = fFinished.wait_for(lock, timeout, [&] { return isDone(copy); });
    fAwaited = nullptr;
    return done;
}

void TCopyPool::stop() {
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        fStopping = true;
        fQueue.clear();
    }
    fQueued.notify_all();
    for (std::thread& thread : fThreads)
        if (thread.joinable()) thread.join();
}

bool TCopyPool::copyOneHere() {
    TPoolCopy* copy = nullptr;
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        if (fStopping || fQueue.empty()) return false;
        copy = takeNext();
    }
    if (!fCallersCopier) fCallersCopier = quietCopier(fFirstMethod);
    copyWith(*fCallersCopier, *copy);
    return true;
}

void TCopyPool::work() {
    const std::unique_ptr<TCopyFile> copier = quietCopier(fFirstMethod);
    for (;;) {
        TPoolCopy* copy = nullptr;
        {
            std::unique_lock<std::mutex> lock(fMutex);
            ++fIdle;
            fQueued.wait(lock, [&] { return fStopping || !fQueue.empty(); });
            --fIdle;
            if (fStopping) return;
            copy = takeNext();
        }
        copyWith(*copier, *copy);
    }
}

TPoolCopy* TCopyPool::takeNext() {
    TPoolCopy* copy = fQueue.front();
    fQueue.pop_front();
    return copy;
}

void TCopyPool::copyWith(TCopyFile& copier, TPoolCopy& copy) {
    try {
        copier.fSource = copy.source;
        copier.fDest = copy.target;
        copier.fDestDir = copy.dirFd;
        copier.fTargetMissing = copy.targetMissing;
        copier.fListed = copy.listed;
        copier.fSourceDir = copy.sourceDir;
        copy.copied = copier.Execute();
        copy.status = copier.fStatus;
        copy.lines = copier.takeMessages();
        copy.bytesCopied = copier.fBytesCopied;
        copy.percent = copier.fPercent;
        copy.attributeError = copier.fAttributeError;
        copy.timesError = copier.fTimesError;
        copy.xattrError = copier.fXattrError;
    } catch (...) {
        copy.failure = std::current_exception();
    }
    bool awaited = false;
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        copy.fDone.store(true, std::memory_order_release);
        awaited = &copy == fAwaited;
    }
    // Only the copy waited for wakes the walking thread, not every one.
    if (awaited) fFinished.notify_all();
}

}  // namespace qvb
