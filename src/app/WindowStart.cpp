#include "app/WindowStart.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "app/DisplayProbe.h"
#include "platform/DataFolder.h"
#include "ui/JpegPicture.h"
#include "ui/QV_BackupMain.h"
#include "ui/QtUserInterface.h"
#include "util/Konstanten.h"
#include "util/QV_Basics.h"

namespace qvb {

int runWindow(int& argc, char** argv, const TCommandLine& line) {
    if (!canOpenDisplay()) {
        std::fprintf(stderr,
                     "QV_Backup: Keine Anzeige erreichbar, das Fenster kann nicht geöffnet "
                     "werden (ohne Fenster: QV_Backup --help)\n");
        return kExitUsage;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    QApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
    QApplication::setWindowIcon(QPixmap::fromImage(programPicture()));
    if (!line.iniFile.empty()) setProgramIniFile(expandFileName(line.iniFile));
    TQtUserInterface userInterface;
    TfrmMain window;
    userInterface.setMainWindow(&window);
    window.show();
    return app.exec();
}

}  // namespace qvb
