#include "engine/CopyIt.h"

#include <utility>

#include "engine/LogLevel.h"
#include "util/UserInterface.h"

namespace qvb {

TCopyIt::TCopyIt() = default;

void TCopyIt::raise(const TCopyEvent& event) {
    if (fOffThread) return;
    if (event) event(this);
    processPendingEvents();
}

void TCopyIt::setName(const std::string& name) {
    fName = name;
    if (logLevel() > 3) fMessages.push_back("TCopyIt.setName: Name=" + name);
}

void TCopyIt::setPassTo(TCopyIt* target) {
    fPassTo = target;
    if (!target) return;
    if (OnStatusChange) target->setOnStatusChange(OnStatusChange);
    if (OnMessage) target->setOnMessage(OnMessage);
    if (OnProgress) target->setOnProgress(OnProgress);
    if (fBeforeFirstChange) target->shareBeforeFirstChange(fBeforeFirstChange);
    if (logLevel() > 3)
        fMessages.push_back("TCopyIt.setPassTo: Name=" + fName + ", PassTo=" + target->fName);
}

void TCopyIt::addMessage(const std::string& line) {
    if (line.empty()) return;
    fMessages.push_back(line);
    raise(OnMessage);
}

void TCopyIt::setProgressText(const std::string& text) {
    fProgressText = text;
    raise(OnProgress);
}

void TCopyIt::doProgress() {
    raise(OnProgress);
}

void TCopyIt::setStatus(TCopyStatus status) {
    if (status == fStatus) return;
    fStatus = status;
    raise(OnStatusChange);
    if (fPassTo) fPassTo->setStatus(status);
}

void TCopyIt::setDelete(bool value) {
    fDelete = value;
    if (fPassTo) fPassTo->setDelete(value);
}

TMsgResult TCopyIt::ask(TMsgKind kind, const std::string& text, unsigned buttons,
                        TMsgResult unattended, const std::string& title) {
    if (fAnswers == TAnswers::Unattended)
        return userInterface().answerUnattended(kind, text, unattended, title);
    return userInterface().showMessage(kind, text, buttons, unattended, title);
}

void TCopyIt::setPreview(bool value) {
    fPreview = value;
    if (fPassTo) fPassTo->setPreview(value);
}

void TCopyIt::setOnMessage(TCopyEvent handler) {
    OnMessage = std::move(handler);
    if (OnMessage && fPassTo) fPassTo->setOnMessage(OnMessage);
}

void TCopyIt::setOnProgress(TCopyEvent handler) {
    OnProgress = std::move(handler);
    if (OnProgress && fPassTo) fPassTo->setOnProgress(OnProgress);
}

void TCopyIt::setOnStatusChange(TCopyEvent handler) {
    OnStatusChange = std::move(handler);
    if (OnStatusChange && fPassTo) fPassTo->setOnStatusChange(OnStatusChange);
}

void TCopyIt::setBeforeFirstChange(std::function<void()> hook) {
    shareBeforeFirstChange(hook ? std::make_shared<std::function<void()>>(std::move(hook))
                                : nullptr);
}

void TCopyIt::shareBeforeFirstChange(std::shared_ptr<std::function<void()>> hook) {
    fBeforeFirstChange = hook;
    if (fPassTo) fPassTo->shareBeforeFirstChange(std::move(hook));
}

void TCopyIt::beforeChange() {
    if (fPreview || !fBeforeFirstChange || !*fBeforeFirstChange) return;
    const std::function<void()> hook = std::exchange(*fBeforeFirstChange, nullptr);
    hook();
}

std::vector<std::string> TCopyIt::takeMessages() {
    std::vector<std::string> lines;
    lines.swap(fMessages);
    return lines;
}

}  // namespace qvb
