#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "support/RecordingUserInterface.h"
#include "ui/JpegPicture.h"
#include "ui/QV_Info.h"

using namespace qvb;

namespace {

QString labelText(const QDialog& dialog, const char* name) {
    return dialog.findChild<QLabel*>(name)->text();
}

}  // namespace

class InfoTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { QApplication::setApplicationName("QV_Backup"); }

    void showsTitleVersionAndDescription() {
        TfrmQV_Info info;
        info.fFileVersion = {4, 7, 2, 0};
        info.show();
        QCOMPARE(info.windowTitle(), QStringLiteral("QV_Backup - Programminfo"));
        QCOMPARE(labelText(info, "ProductName"), QStringLiteral("QV_Backup"));
        QCOMPARE(labelText(info, "lblVersion"), QStringLiteral("Version 4.7.0"));
        QVERIFY(labelText(info, "lblDescription")
                    .startsWith(QStringLiteral(" QV_Backup ist mein persönliches Daten-\n")));
        QVERIFY(labelText(info, "lblURL").contains("https://example.org/qv_backup"));
        auto* close = info.findChild<QPushButton*>("OKButton");
        QCOMPARE(close->text(), QStringLiteral("Schließen"));
        QVERIFY(close->isDefault());
    }

    void anotherTitleKeepsThePlaceholders() {
        QApplication::setApplicationName("Anders");
        TfrmQV_Info info;
        info.show();
        QCOMPARE(info.windowTitle(), QStringLiteral("Anders - Programminfo"));
        QCOMPARE(labelText(info, "ProductName"), QStringLiteral("Anders"));
        QCOMPARE(labelText(info, "lblVersion"), QStringLiteral("ProductVersion"));
        QCOMPARE(labelText(info, "lblDescription"), QStringLiteral("ProduktDescription"));
    }

    void showsThePictureDecodedFromItsJpeg() {
        const QImage picture = programPicture();
        QCOMPARE(picture.size(), QSize(160, 160));
        TfrmQV_Info info;
        const QPixmap shown = info.findChild<QLabel*>("ProgramIcon")->pixmap();
        QCOMPARE(shown.size(), QSize(160, 160));
    }

    void damagedPicturesGiveNoImage() {
        QFile file(":/pictures/QV_Backup.jpg");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray jpeg = file.readAll();
        QVERIFY(decodeJpeg(QByteArray()).isNull());
        QVERIFY(decodeJpeg(QByteArray("kein Bild")).isNull());
        QVERIFY(decodeJpeg(jpeg.left(20)).isNull());
        // A header claiming a picture of 20000 x 20000 pixels.
        QByteArray huge = jpeg;
        const qsizetype sof = huge.indexOf("\xff\xc0");
        QVERIFY(sof > 0);
        huge[sof + 5] = huge[sof + 7] = char(0x4e);
        QVERIFY(decodeJpeg(huge).isNull());
    }

    void aFailingOpenerReportsTheHomePageAsNotFound() {
        test::RecordingUserInterface recorder;
        TfrmQV_Info info;
        QUrl opened;
        info.fOpenUrl = [&opened](const QUrl& url) {
            opened = url;
            return false;
        };
        emit info.findChild<QLabel*>("lblURL")->linkActivated("https://example.org/qv_backup");
        QCOMPARE(opened, QUrl("https://example.org/qv_backup"));
        QCOMPARE(recorder.busyCalls, (std::vector<bool>{true, false}));
        QCOMPARE(recorder.shown.size(), size_t(1));
        QCOMPARE(recorder.shown[0].kind, TMsgKind::Error);
        QCOMPARE(recorder.shown[0].buttons, unsigned(mbOK));
        QCOMPARE(recorder.shown[0].text,
                 std::string("Homepage \"https://example.org/qv_backup\" nicht gefunden.\r    "
                             "Internet-Browser korrekt installiert?"));

        info.fOpenUrl = [](const QUrl&) { return true; };
        info.lblURLClick();
        QCOMPARE(recorder.shown.size(), size_t(1));
    }
};

QTEST_MAIN(InfoTest)
#include "InfoTest.moc"
