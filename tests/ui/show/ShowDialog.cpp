// Shows one window of the program by name, so that it can be looked at and
// photographed without a test switch in the program itself:
//     qvb_show_dialog main|rename|selectdir|help|info|message

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstring>

#include "ui/JpegPicture.h"
#include "ui/QV_BackupHelp.h"
#include "ui/QV_BackupMain.h"
#include "ui/QV_Info.h"
#include "ui/QV_Rename.h"
#include "ui/QV_SelectDir.h"
#include "ui/QtUserInterface.h"

using namespace qvb;

namespace {

int show(const char* name) {
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
        std::fprintf(stderr, "Aufruf: qvb_show_dialog main|rename|selectdir|help|info|message\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("QV_Backup");
    QApplication::setWindowIcon(QPixmap::fromImage(programPicture()));
    TQtUserInterface ui;
    return show(argv[1]);
}
