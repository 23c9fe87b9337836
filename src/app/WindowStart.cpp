#include "app/WindowStart.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <exception>
#include <string>
#include <type_traits>

#include "app/CommandLine.h"
#include "app/DisplayProbe.h"
#include "session/Session.h"
#include "ui/GermanQtTexts.h"
#include "ui/JpegPicture.h"
#include "ui/QV_BackupMain.h"
#include "ui/QtUserInterface.h"
#include "ui/SingleWindow.h"
#include "util/Konstanten.h"

namespace qvb {

namespace {

int runWindow(int& argc, char** argv, const std::string& iniFile, const std::string& showProtocol) {
    if (!canOpenDisplay()) {
        std::fprintf(stderr,
                     "QV_Backup: Keine Anzeige erreichbar, das Fenster kann nicht geöffnet "
                     "werden (ohne Fenster: QV_Backup --help)\n");
        return kExitUsage;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    QApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
    // Lets a Wayland desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("de.nerk.QV_Backup"));
    QApplication::setWindowIcon(QPixmap::fromImage(programPicture()));
    installGermanQtTexts(app);
    TSingleWindow single(QString::fromStdString(useSettingsFile(iniFile)));
    switch (single.claim(QByteArray::fromStdString(showProtocol))) {
        case TSingleWindow::TClaim::Owner:
            break;
        case TSingleWindow::TClaim::AskedRunning:
            return kExitOk;
        case TSingleWindow::TClaim::Unreachable:
            std::fprintf(stderr,
                         "QV_Backup: Das Fenster ist mit diesen Einstellungen schon geöffnet, "
                         "antwortet aber nicht.\n");
            return kExitFailed;
    }
    TQtUserInterface userInterface;
    TfrmMain window;
    userInterface.setMainWindow(&window);
    single.bringForwardOnRequest(&window);
    const auto showRun = [&window](const std::string& file) {
        bringWindowForward(&window);
        window.showHistory(file);
    };
    QObject::connect(&single, &TSingleWindow::protocolRequested, &window,
                     [showRun](const QByteArray& file) { showRun(file.toStdString()); });
    window.session().showProtocolOnNoticeAction(showRun);
    window.show();
    if (!showProtocol.empty()) window.showHistory(showProtocol);
    return app.exec();
}

}  // namespace
}  // namespace qvb

static_assert(std::is_same_v<decltype(&qvb_open_window), qvb::TOpenWindow>);

// Nothing may be thrown across the module's C boundary.
extern "C" int qvb_open_window(int* argc, char** argv, const char* iniFile,
                               const char* showProtocol) {
    try {
        return qvb::runWindow(*argc, argv, iniFile, showProtocol);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "QV_Backup: Unerwarteter Fehler: %s\n", e.what());
        return qvb::kExitFailed;
    }
}
