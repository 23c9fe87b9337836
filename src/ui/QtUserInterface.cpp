#include "ui/QtUserInterface.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace qvb {

namespace {

const char* const kResultProperty = "qvbResult";

QMessageBox::Icon iconOf(TMsgKind kind) {
    switch (kind) {
        case TMsgKind::Error:
            return QMessageBox::Critical;
        case TMsgKind::Warning:
            return QMessageBox::Warning;
        case TMsgKind::Information:
            return QMessageBox::Information;
        case TMsgKind::Confirmation:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// The engine's texts break lines the Windows way, with "\r" or "\r\n".
QString toLines(const std::string& text) {
    QString lines = QString::fromStdString(text);
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

void addButton(QMessageBox& box, const char* caption, QMessageBox::ButtonRole role,
               TMsgResult result) {
    QPushButton* button = box.addButton(QString::fromUtf8(caption), role);
    button->setProperty(kResultProperty, static_cast<int>(result));
}

// Closing the box without a button gives the most cautious answer it offers.
TMsgResult escapeResult(unsigned buttons) {
    if (buttons & mbCancel) return TMsgResult::Cancel;
    if (buttons & mbNo) return TMsgResult::No;
    if (buttons & mbYes) return TMsgResult::Yes;
    return TMsgResult::OK;
}

unsigned withDefault(unsigned buttons) {
    return (buttons & (mbOK | mbCancel | mbYes | mbNo)) ? buttons : unsigned(mbOK);
}

}  // namespace

std::unique_ptr<QMessageBox> createMessageBox(TMsgKind kind, const std::string& text,
                                              unsigned buttons, const std::string& title,
                                              QWidget* parent) {
    buttons = withDefault(buttons);
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(iconOf(kind));
    box->setWindowTitle(QString::fromStdString(title.empty() ? defaultTitle(kind) : title));
    box->setText(toLines(text));
    box->setTextFormat(Qt::PlainText);
    if (buttons & mbYes) addButton(*box, "Ja", QMessageBox::YesRole, TMsgResult::Yes);
    if (buttons & mbNo) addButton(*box, "Nein", QMessageBox::NoRole, TMsgResult::No);
    if (buttons & mbOK) addButton(*box, "OK", QMessageBox::AcceptRole, TMsgResult::OK);
    if (buttons & mbCancel)
        addButton(*box, "&Abbrechen", QMessageBox::RejectRole, TMsgResult::Cancel);
    box->setProperty(kResultProperty, static_cast<int>(escapeResult(buttons)));
    const QList<QAbstractButton*> all = box->buttons();
    for (QAbstractButton* button : all) {
        const int result = button->property(kResultProperty).toInt();
        if (result == static_cast<int>(escapeResult(buttons))) box->setEscapeButton(button);
        if ((buttons & mbDefaultNo) && result == static_cast<int>(TMsgResult::No))
            box->setDefaultButton(qobject_cast<QPushButton*>(button));
    }
    return box;
}

TMsgResult messageBoxResult(const QMessageBox& box) {
    const QAbstractButton* clicked = box.clickedButton();
    const QVariant result = clicked ? clicked->property(kResultProperty) : QVariant();
    return static_cast<TMsgResult>(result.isValid() ? result.toInt()
                                                    : box.property(kResultProperty).toInt());
}

TQtUserInterface::TQtUserInterface(Clock clock) : fClock(std::move(clock)) {
    QObject::connect(&fPostedCallsTimer, &QTimer::timeout, &runPostedCalls);
    fPostedCallsTimer.start(100);
    setUserInterface(this);
}

TQtUserInterface::~TQtUserInterface() {
    setUserInterface(nullptr);
    while (fBusyDepth > 0) setBusy(false);
}

TMsgResult TQtUserInterface::showMessage(TMsgKind kind, const std::string& text, unsigned buttons,
                                         TMsgResult, const std::string& title) {
    QWidget* parent = QApplication::activeWindow();
    if (!parent) parent = fMainWindow;
    const std::unique_ptr<QMessageBox> box = createMessageBox(kind, text, buttons, title, parent);
    // A question during a run must be answerable even under the hourglass.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box->exec();
    QApplication::restoreOverrideCursor();
    return messageBoxResult(*box);
}

void TQtUserInterface::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++fBusyDepth;
    } else if (fBusyDepth > 0) {
        QApplication::restoreOverrideCursor();
        --fBusyDepth;
    }
}

void TQtUserInterface::processEvents() {
    const auto now = fClock();
    if (fEventsProcessed && now - fLastEvents < kEventInterval) return;
    fEventsProcessed = true;
    fLastEvents = now;
    QApplication::processEvents();
}

void TQtUserInterface::bringToFront() {
    if (!fMainWindow) return;
    if (fMainWindow->isMinimized()) fMainWindow->showNormal();
    fMainWindow->raise();
    fMainWindow->activateWindow();
}

}  // namespace qvb
