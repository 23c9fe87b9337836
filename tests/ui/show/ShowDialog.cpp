// Shows one window of the program by name, so that it can be looked at and
// photographed without a test switch in the program itself:
//     qvb_show_dialog main|rename|selectdir|help|info|message|wizard1..wizard5

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "ui/JpegPicture.h"
#include "ui/QV_BackupHelp.h"
#include "ui/QV_BackupMain.h"
#include "ui/QV_Info.h"
#include "ui/QV_Rename.h"
#include "ui/QV_SelectDir.h"
#include "ui/QV_Wizzard.h"
#include "ui/QtUserInterface.h"

using namespace qvb;

namespace {

// Adds a source row the way the user does: through the folder dialog.
void addSource(TfrmWizzard& wizard, TQV_BackupOptions& options, const char* dir) {
    options.LastSrcDir = dir;
    QTimer::singleShot(
        0, [] { QApplication::activeModalWidget()->findChild<QPushButton*>("btnOK")->click(); });
    wizard.findChild<QPushButton*>("btnDirSource")->click();
}

// The wizard on `step` (1 to 5) of a weekly job, filled in as a user would.
int showWizard(int step) {
    QTemporaryDir settings;
    TQV_BackupOptions options((settings.path() + "/QV_Backup.ini").toStdString(),
                              (settings.path() + "/QV_Backup.export.ini").toStdString(), true);
    TCopyJob job;
    job.fJobName = "Job_3";
    TfrmWizzard wizard(options);
    wizard.fJob = &job;
    QTimer::singleShot(0, [&] {
        wizard.findChild<QLineEdit*>("edtJobName")->setText("Fotos -> extern");
        if (step > 1) wizard.btnNextClick();
        if (step > 1) addSource(wizard, options, "/usr/share/doc");
        if (step > 1) addSource(wizard, options, "/usr/share/fonts");
        if (step > 2) wizard.btnNextClick();
        if (step > 3) wizard.findChild<QLineEdit*>("edtDestDir")->setText("/media/usb/Backup/");
        if (step > 3) wizard.btnNextClick();
        if (step > 3) wizard.findChild<QRadioButton*>("rbtIntervall1")->click();
        if (step > 4) wizard.btnNextClick();
    });
    return wizard.exec();
}

int show(const char* name) {
    if (std::strncmp(name, "wizard", 6) == 0 && name[6] >= '1' && name[6] <= '5' && !name[7])
        return showWizard(name[6] - '0');
    TfrmMain main;
    main.show();
    if (std::strcmp(name, "main") == 0) return QApplication::exec();
    if (std::strcmp(name, "rename") == 0) {
        TfrmRename rename(&main);
        rename.newName = "Projekte täglich";
        return rename.exec();
    }
    if (std::strcmp(name, "selectdir") == 0) {
        TfrmSelectDir select(&main);
        select.setWindowTitle("Quellverzeichnis");
        select.startDir = "/usr/share/doc";
        return select.exec();
    }
    if (std::strcmp(name, "help") == 0) {
        showHelp(&main);
        return QApplication::exec();
    }
    if (std::strcmp(name, "info") == 0) {
        TfrmQV_Info info(&main);
        return info.exec();
    }
    if (std::strcmp(name, "message") == 0) {
        userInterface().showMessage(TMsgKind::Confirmation,
                                    "Quelle und Ziel liegen auf demselben Laufwerk.\r"
                                    "Trotzdem sichern?",
                                    mbYes | mbNo | mbCancel, TMsgResult::Yes);
        return 0;
    }
    std::fprintf(stderr, "Unbekanntes Fenster: %s\n", name);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(
            stderr,
            "Aufruf: qvb_show_dialog main|rename|selectdir|help|info|message|wizard1..wizard5\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("QV_Backup");
    QApplication::setWindowIcon(QPixmap::fromImage(programPicture()));
    TQtUserInterface ui;
    return show(argv[1]);
}
