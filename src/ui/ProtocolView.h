#pragma once

// Shows the protocol in the window's memo without slowing a run down: lines
// gather and reach the memo together, at most every 250 ms and whenever the
// caller flushes (at the end of a run). No line is ever dropped.

#include <QObject>
#include <QString>
#include <QTimer>
#include <string>

class QPlainTextEdit;

namespace qvb {

class TProtocolView : public QObject {
    Q_OBJECT

  public:
    static constexpr int kBatchMillis = 250;

    explicit TProtocolView(QPlainTextEdit* memo);

    void append(const std::string& line);
    void flush();
    bool pending() const { return fPendingLines > 0; }

  protected:
    // Ctrl+A in the protocol selects its text: the window's own Ctrl+A (run
    // or cancel) would otherwise take the key from the read-only memo.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPlainTextEdit* fMemo;
    QString fPending;
    int fPendingLines = 0;
    QTimer fTimer;
};

}  // namespace qvb
