#include "ui/QV_Info.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "ui/JpegPicture.h"
#include "ui_QV_Info.h"
#include "util/Konstanten.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

const char* const kDescription =
    " QV_Backup ist mein persönliches Daten-\n sicherungsprogramm.\n\n"
    " +  Aufgaben können zu Backup-Jobs zusammen-\n     gefasst werden.\n"
    " +  Jobs werden zyklisch (stündlich, täglich,\n     wöchentlich) oder manuell ausgeführt.\n"
    " +  Optional mit Löschen im Zielverzeichnis\n"
    " +  Ausschluss- und NurDiese-Listen\n"
    " +  Alle Aktionen werden mitprotokolliert.";

// Windows with large fonts (more than 110 pixels per inch) got a narrower,
// taller window.
QSize windowSizeFor(double logicalDpi) {
    return logicalDpi <= 110 ? QSize(450, 320) : QSize(434, 380);
}

}  // namespace

std::string homePageNotFoundText() {
    return std::string("Homepage \"") + kHomePage +
           "\" nicht gefunden.\r    Internet-Browser korrekt installiert?";
}

TfrmQV_Info::TfrmQV_Info(QWidget* parent)
    : QDialog(parent),
      fFileVersion{kVersionMajor, kVersionMinor, kVersionRelease, kVersionBuild},
      fOpenUrl(&QDesktopServices::openUrl),
      ui(new Ui::TfrmQV_Info) {
    ui->setupUi(this);
    const QPixmap picture = QPixmap::fromImage(programPicture());
    ui->ProgramIcon->setPixmap(picture);
    setWindowIcon(picture);
    ui->lblURL->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(QLatin1String(kHomePage)));
    const QScreen* shown = screen();
    resize(windowSizeFor(shown ? shown->logicalDotsPerInchY() : 96));
    connect(ui->lblURL, &QLabel::linkActivated, this, &TfrmQV_Info::lblURLClick);
    connect(ui->OKButton, &QPushButton::clicked, this, &TfrmQV_Info::accept);
}

TfrmQV_Info::~TfrmQV_Info() = default;

void TfrmQV_Info::showEvent(QShowEvent* event) {
    const QString title = QGuiApplication::applicationDisplayName();
    ui->ProductName->setText(title);
    setWindowTitle(title + QStringLiteral(" - Programminfo"));
    if (title == QLatin1String(kApplicationTitle)) {
        ui->lblVersion->setText(QString::fromStdString(
            versionText(fFileVersion[0], fFileVersion[1], fFileVersion[2], fFileVersion[3])));
        ui->lblDescription->setText(QString::fromUtf8(kDescription));
    }
    QDialog::showEvent(event);
}

void TfrmQV_Info::lblURLClick() {
    bool opened = false;
    {
        TBusyCursor busy;
        opened = fOpenUrl(QUrl(QString::fromLatin1(kHomePage)));
    }
    if (!opened)
        userInterface().showMessage(TMsgKind::Error, homePageNotFoundText(), mbOK, TMsgResult::OK);
}

}  // namespace qvb
