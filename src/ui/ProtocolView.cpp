#include "ui/ProtocolView.h"

#include <QPlainTextEdit>

namespace qvb {

TProtocolView::TProtocolView(QPlainTextEdit* memo) : QObject(memo), fMemo(memo) {
    fTimer.setSingleShot(true);
    fTimer.setInterval(kBatchMillis);
    connect(&fTimer, &QTimer::timeout, this, &TProtocolView::flush);
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
