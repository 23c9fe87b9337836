#include "ui/ProtocolView.h"

#include <QKeyEvent>
#include <QPlainTextEdit>

namespace qvb {

TProtocolView::TProtocolView(QPlainTextEdit* memo) : QObject(memo), fMemo(memo) {
    fTimer.setSingleShot(true);
    fTimer.setInterval(kBatchMillis);
    connect(&fTimer, &QTimer::timeout, this, &TProtocolView::flush);
    memo->installEventFilter(this);
}

bool TProtocolView::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched != fMemo || (type != QEvent::ShortcutOverride && type != QEvent::KeyPress))
        return false;
    if (!static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) return false;
    event->accept();
    if (type == QEvent::ShortcutOverride) return false;
    fMemo->selectAll();
    return true;
}

void TProtocolView::append(const std::string& line) {
    if (fPendingLines++ > 0) fPending += QLatin1Char('\n');
    fPending += QString::fromStdString(line);
    if (!fTimer.isActive()) fTimer.start();
}

void TProtocolView::flush() {
    fTimer.stop();
    if (fPendingLines == 0) return;
    fMemo->appendPlainText(fPending);
    fPending.clear();
    fPendingLines = 0;
}

}  // namespace qvb
