#include "engine/CopyPool.h"

#include "engine/CopyFile.h"

namespace qvb {

TCopyPool::TCopyPool(int workers, uint8_t firstMethod) {
    fThreads.reserve(static_cast<size_t>(workers));
    try {
        for (int i = 0; i < workers; ++i)
            fThreads.emplace_back([this, firstMethod] { work(firstMethod); });
    } catch (...) {
        stop();
        throw;
    }
}

TCopyPool::~TCopyPool() {
    stop();
}

void TCopyPool::submit(TPoolCopy& copy) {
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        fQueue.push_back(&copy);
    }
    fQueued.notify_one();
}

bool TCopyPool::waitFor(const TPoolCopy& copy, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(fMutex);
    return fFinished.wait_for(lock, timeout, [&] { return copy.fDone; });
}

bool TCopyPool::isDone(const TPoolCopy& copy) {
    const std::lock_guard<std::mutex> lock(fMutex);
    return copy.fDone;
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

void TCopyPool::work(uint8_t firstMethod) {
    TCopyFile copier;
    copier.fOffThread = true;
    copier.fFirstMethod = firstMethod;
    // A run on one thread has no such copier: its trace line would be extra.
    copier.takeMessages();
    for (;;) {
        TPoolCopy* copy = nullptr;
        {
            std::unique_lock<std::mutex> lock(fMutex);
            fQueued.wait(lock, [&] { return fStopping || !fQueue.empty(); });
            if (fStopping) return;
            copy = fQueue.front();
            fQueue.pop_front();
        }
        try {
            copier.fSource = copy->source;
            copier.fDest = copy->target;
            copier.fDestDir = copy->dirFd;
            copier.fTargetMissing = copy->targetMissing;
            copy->copied = copier.Execute();
            copy->status = copier.fStatus;
            copy->lines = copier.takeMessages();
            copy->bytesCopied = copier.fBytesCopied;
            copy->percent = copier.fPercent;
            copy->attributeError = copier.fAttributeError;
        } catch (...) {
            copy->failure = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> lock(fMutex);
            copy->fDone = true;
        }
        fFinished.notify_all();
    }
}

}  // namespace qvb
