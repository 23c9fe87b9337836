// Starts one stored job from the main window, as a click on "&Ausführen"
// does, and ends when the run is over: the window's side of the benchmark
// that compares a run from the window with one from the command line.
// usage: qvb_window_run INI-FILE

#include <QApplication>
#include <QPushButton>
#include <cstdio>

#include "jobs/CopyJob.h"
#include "platform/DataFolder.h"
#include "ui/QV_BackupMain.h"
#include "ui/QtUserInterface.h"

namespace {

// The window's own event handling, but no box waits for a click: the
// same-drive question (source and destination in one memory file system)
// is answered "Ja".
class TUnattendedInterface : public qvb::TQtUserInterface {
  public:
    qvb::TMsgResult showMessage(qvb::TMsgKind, const std::string& text, unsigned buttons,
                                qvb::TMsgResult, const std::string&) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        return buttons & qvb::mbYes ? qvb::TMsgResult::Yes : qvb::TMsgResult::OK;
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace qvb;
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvb_window_run INI-FILE\n");
        return 2;
    }
    QApplication app(argc, argv);
    setProgramIniFile(argv[1]);
    TUnattendedInterface userInterface;
    TfrmMain window;
    userInterface.setMainWindow(&window);
    window.show();
    window.findChild<QPushButton*>("Button1")->click();
    return window.currentJob() && window.currentJob()->fStatus == csDone ? 0 : 1;
}
