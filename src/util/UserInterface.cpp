#include "util/UserInterface.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "util/EscapedText.h"

namespace qvb {

namespace {

TConsoleUserInterface& consoleInterface() {
    static TConsoleUserInterface instance;
    return instance;
}

TUserInterface*& currentInterface() {
    static TUserInterface* current = nullptr;
    return current;
}

// Windows message boxes separate lines with "\r" or "\r\n"; a terminal and the
// protocol want plain line feeds, and the names in a line nothing that makes one.
std::string toLines(const std::string& text) {
    std::string out;
    for (const std::string& line : splitLines(text)) out += escapeControls(line) + '\n';
    out.pop_back();
    return out;
}

}  // namespace

std::string defaultTitle(TMsgKind kind) {
    switch (kind) {
        case TMsgKind::Error:
            return "Fehler";
        case TMsgKind::Warning:
            return "Warnung";
        case TMsgKind::Information:
            return "Information";
        case TMsgKind::Confirmation:
            return "Bestätigung";
    }
    return {};
}

TMsgResult TConsoleUserInterface::showMessage(TMsgKind kind, const std::string& text, unsigned,
                                              TMsgResult unattended, const std::string& title) {
    const std::string heading = title.empty() ? defaultTitle(kind) : title;
    const std::string body = toLines(text);
    std::fprintf(stderr, "%s: %s\n", heading.c_str(), body.c_str());
    if (fProtocol) fProtocol(body);
    return unattended;
}

void TConsoleUserInterface::processEvents() {
    if (fPoll) fPoll();
}

TUserInterface& userInterface() {
    TUserInterface* ui = currentInterface();
    return ui ? *ui : consoleInterface();
}

void setUserInterface(TUserInterface* ui) {
    currentInterface() = ui;
}

namespace {

struct PostedCall {
    std::thread::id target;
    std::function<void()> call;
};

std::mutex& postedMutex() {
    static std::mutex instance;
    return instance;
}
std::vector<PostedCall>& postedCalls() {
    static std::vector<PostedCall> instance;
    return instance;
}
std::atomic<size_t> postedCount{0};

}  // namespace

void postToThread(std::thread::id target, std::function<void()> call) {
    std::lock_guard lock(postedMutex());
    postedCalls().push_back({target, std::move(call)});
    postedCount.store(postedCalls().size());
}

void runPostedCalls() {
    if (postedCount.load(std::memory_order_relaxed) == 0) return;
    std::vector<std::function<void()>> mine;
    {
        std::lock_guard lock(postedMutex());
        std::vector<PostedCall>& all = postedCalls();
        const std::thread::id self = std::this_thread::get_id();
        for (auto it = all.begin(); it != all.end();) {
            if (it->target == self) {
                mine.push_back(std::move(it->call));
                it = all.erase(it);
            } else {
                ++it;
            }
        }
        postedCount.store(all.size());
    }
    for (auto& call : mine) call();
}

}  // namespace qvb
