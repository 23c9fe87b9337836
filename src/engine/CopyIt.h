#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/CopyStatistics.h"
#include "engine/CopyStatus.h"
#include "util/UserInterface.h"

namespace qvb {

class TCopyIt;

// A handler bound to its receiver; called with the operation that raised the
// event (null for the file list's folder notification).
using TCopyEvent = std::function<void(TCopyIt* sender)>;

// Base of every copy operation: message queue, status, progress and the
// pass-to chain job -> mirror -> copier along which handlers, the delete
// option and status changes travel.
class TCopyIt {
  public:
    TCopyIt();
    virtual ~TCopyIt() = default;
    TCopyIt(const TCopyIt&) = delete;
    TCopyIt& operator=(const TCopyIt&) = delete;

    virtual bool Execute() = 0;

    void setName(const std::string& name);
    void setPassTo(TCopyIt* target);
    // Queues a non-empty line and raises OnMessage.
    void addMessage(const std::string& line);
    void setProgressText(const std::string& text);
    void clearProgressText() { fProgressText.clear(); }
    void doProgress();
    void setStatus(TCopyStatus status);
    void setDelete(bool value);
    // A preview decides and logs as a run does but writes nothing.
    void setPreview(bool value);
    void setOnMessage(TCopyEvent handler);
    void setOnProgress(TCopyEvent handler);
    void setOnStatusChange(TCopyEvent handler);
    // Called once a run, on the thread that walks the folders, right before
    // the run first changes its destination (a copy, a deletion, a new
    // folder, an attribute, a link), so that a run that changes nothing costs
    // nothing for it. Shared along the pass-to chain: one call serves them all.
    // Never called in a preview.
    void setBeforeFirstChange(std::function<void()> hook);

    // Takes all queued lines out of the queue.
    std::vector<std::string> takeMessages();
    // A box of this operation: shown to the user, or answered at once with
    // `unattended` while the operation runs unattended.
    TMsgResult ask(TMsgKind kind, const std::string& text, unsigned buttons, TMsgResult unattended,
                   const std::string& title = {});

    TCopyIt* fPassTo = nullptr;
    int32_t fPercent = 0;
    bool fDelete = false;
    bool fPreview = false;
    // Who answers this run's questions; unattended, its boxes take their
    // unattended answer and a large deletion is skipped unless allowed.
    TAnswers fAnswers = TAnswers::User;
    std::vector<std::string> fMessages;
    TCopyEvent OnProgress;
    TCopyEvent OnMessage;
    std::string fStatusText;
    TCopyEvent OnStatusChange;
    TCopyStatus fStatus = csIdle;
    TCopyStatistics fStatistics;
    std::string fName = "TCopyIt";
    std::string fProgressText;
    // Works on a thread other than the window's: raises no events and leaves
    // the window's events alone; its lines and status are handed on by its owner.
    bool fOffThread = false;

  protected:
    // This run is about to change its destination.
    void beforeChange();
    // Calls the handler (if any), then lets pending events be processed.
    void raise(const TCopyEvent& event);
    void letEventsRun() {
        if (!fOffThread) processPendingEvents();
    }

  private:
    void shareBeforeFirstChange(std::shared_ptr<std::function<void()>> hook);
    std::shared_ptr<std::function<void()>> fBeforeFirstChange;
};

}  // namespace qvb
