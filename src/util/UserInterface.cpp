#include "util/UserInterface.h"

#include <cstdio>

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
// protocol want plain line feeds.
std::string toLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string defaultTitle(TMsgKind kind) {
    switch (kind) {
        case TMsgKind::Error: return "Fehler";
        case TMsgKind::Warning: return "Warnung";
        case TMsgKind::Information: return "Information";
        case TMsgKind::Confirmation: return "Bestätigung";
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

void setUserInterface(TUserInterface* ui) { currentInterface() = ui; }

}  // namespace qvb
