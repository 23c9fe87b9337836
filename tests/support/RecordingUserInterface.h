#pragma once

#include <deque>
#include <string>
#include <vector>

#include "util/UserInterface.h"

namespace qvb::test {

// Records every message and answers from a queue (or with the unattended
// answer when the queue is empty). Installs itself for its lifetime.
class RecordingUserInterface : public TUserInterface {
  public:
    struct Shown {
        TMsgKind kind;
        std::string text;
        unsigned buttons;
        std::string title;
    };

    RecordingUserInterface() { setUserInterface(this); }
    ~RecordingUserInterface() override { setUserInterface(nullptr); }

    TMsgResult showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                           TMsgResult unattended, const std::string& title = {}) override {
        shown.push_back({kind, text, buttons, title});
        if (answers.empty()) return unattended;
        const TMsgResult r = answers.front();
        answers.pop_front();
        return r;
    }
    void setBusy(bool busy) override { busyCalls.push_back(busy); }
    void processEvents() override {
        ++eventCalls;
        if (onEvents) onEvents();
    }
    bool asksUser() const override { return asks; }

    std::vector<Shown> shown;
    std::deque<TMsgResult> answers;
    std::vector<bool> busyCalls;
    int eventCalls = 0;
    std::function<void()> onEvents;  // e.g. a cancel "clicked" during a run
    bool asks = true;                // false: a user interface without a window
};

}  // namespace qvb::test
