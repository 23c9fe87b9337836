#pragma once

// The one way the engine, the jobs and the utilities reach the user: message
// boxes, the busy cursor and the processing of pending window events. The
// window implements it with Qt; runs without a window use the console one.

#include <functional>
#include <string>
#include <thread>

namespace qvb {

enum class TMsgKind { Error, Warning, Information, Confirmation };

// Buttons of a message box, combined as bits.
enum TMsgButton : unsigned {
    mbOK = 1u << 0,
    mbCancel = 1u << 1,  // shown as "&Abbrechen"
    mbYes = 1u << 2,
    mbNo = 1u << 3,
    // Enter answers "Nein": for questions whose "Ja" cannot be undone.
    mbDefaultNo = 1u << 4,
};

enum class TMsgResult { OK, Cancel, Yes, No };

// Who answers the questions of one run: the user, or nobody (a run the
// scheduler or the command line started may find nobody at the screen, and a
// box left open would hold up every later job). The window's own boxes
// outside the run are always shown.
enum class TAnswers { User, Unattended };

class TUserInterface {
  public:
    virtual ~TUserInterface() = default;

    // Shows `text` and returns the button pressed. A user interface that cannot
    // ask (no window) returns `unattended` at once. An empty title means the
    // kind's own ("Fehler", "Warnung", "Information", "Bestätigung").
    virtual TMsgResult showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                                   TMsgResult unattended, const std::string& title = {}) = 0;
    // Hourglass on (true) or back to normal (false).
    virtual void setBusy(bool busy) = 0;
    // Lets the window handle pending events (a cancel click among them).
    virtual void processEvents() = 0;
    // Raises the program's window before a message that must be seen.
    virtual void bringToFront() {}
    // False when a question takes its unattended answer without anybody seeing
    // it: a preview then shows what such a run would decide.
    virtual bool asksUser() const { return true; }
    // A question of a run nobody answers: takes `unattended`; a face without
    // boxes may still show the text.
    virtual TMsgResult answerUnattended(TMsgKind, const std::string&, TMsgResult unattended,
                                        const std::string& = {}) {
        return unattended;
    }
};

// Runs without a window: a message goes to standard error and to the protocol
// sink (when one is set), a question takes its unattended answer, and event
// processing calls the poll hook (the command line checks its signals there).
class TConsoleUserInterface : public TUserInterface {
  public:
    using LineSink = std::function<void(const std::string&)>;

    void setProtocolSink(LineSink sink) { fProtocol = std::move(sink); }
    void setPollHook(std::function<void()> poll) { fPoll = std::move(poll); }

    TMsgResult showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                           TMsgResult unattended, const std::string& title = {}) override;
    void setBusy(bool) override {}
    void processEvents() override;
    bool asksUser() const override { return false; }
    TMsgResult answerUnattended(TMsgKind kind, const std::string& text, TMsgResult unattended,
                                const std::string& title = {}) override {
        return showMessage(kind, text, 0, unattended, title);
    }

  private:
    LineSink fProtocol;
    std::function<void()> fPoll;
};

// The user interface in force: the one set last, or a console one.
TUserInterface& userInterface();
// Sets the user interface (not owned); null restores the console one.
void setUserInterface(TUserInterface* ui);

// The title a message box of this kind carries when none is given.
std::string defaultTitle(TMsgKind kind);

// Hands `call` from any thread to the thread `target`, where it runs at that
// thread's next processPendingEvents (or runPostedCalls). A worker reports its
// end to its owner this way.
void postToThread(std::thread::id target, std::function<void()> call);
// Runs the calls posted to the calling thread; costs one atomic read when none
// are pending. The window's own idle loop should call it too.
void runPostedCalls();

// Shorthand for the engine: let pending events be handled.
inline void processPendingEvents() {
    runPostedCalls();
    userInterface().processEvents();
}

// Hourglass for the lifetime of the object, back to normal in every case.
class TBusyCursor {
  public:
    TBusyCursor() { userInterface().setBusy(true); }
    ~TBusyCursor() { userInterface().setBusy(false); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace qvb
