#include "ui/QV_History.h"

#include <QBrush>
#include <QColor>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHeaderView>
#include <QUrl>
#include <algorithm>

#include "ui/ProtocolView.h"
#include "ui_QV_History.h"
#include "util/DateTime.h"
#include "util/EscapedText.h"
#include "util/QV_Basics.h"

namespace qvb {

namespace {

enum TColumn { colStart, colJob, colVerdict, colErrors, colWarnings, colCopied, colDeleted };

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The verdicts that need a look stand out as the window's overdue rows do.
QColor verdictColor(const std::string& verdict) {
    if (verdict == "Fehler" || verdict.empty()) return QColor(0xB0, 0x00, 0x00);
    if (verdict == "Warnungen") return QColor(0x9a, 0x5b, 0x00);
    if (verdict == "abgebrochen") return QColor(0x60, 0x60, 0x60);
    return {};
}

}  // namespace

TfrmHistory::TfrmHistory(const std::string& folder, const std::string& currentJobKey,
                         QWidget* parent)
    : QDialog(parent), ui(new Ui::TfrmHistory), fFolder(folder), fCurrentJobKey(currentJobKey) {
    ui->setupUi(this);
    fView = new TProtocolView(ui->memProtocol);
    ui->memProtocol->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->splHistory->setStretchFactor(0, 1);
    ui->splHistory->setStretchFactor(1, 2);
    ui->cbxCurrentJob->setEnabled(!currentJobKey.empty());
    for (const int column : {colErrors, colWarnings, colCopied, colDeleted})
        ui->lvwRuns->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    // The job's name takes the room the counts do not need.
    QHeaderView* header = ui->lvwRuns->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(colJob, QHeaderView::Stretch);
    connect(ui->lvwRuns, &QTreeWidget::currentItemChanged, this, &TfrmHistory::runChosen);
    connect(ui->cbxCurrentJob, &QCheckBox::toggled, this, [this] { fill(chosenFile()); });
    connect(ui->btnOpenFolder, &QPushButton::clicked, this, &TfrmHistory::openFolder);
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmHistory::accept);
    refresh();
}

TfrmHistory::~TfrmHistory() = default;

void TfrmHistory::refresh() {
    fEntries = listHistory(fFolder);
    std::reverse(fEntries.begin(), fEntries.end());
    fill(chosenFile());
}

void TfrmHistory::fill(const std::string& choose) {
    const bool onlyCurrent = ui->cbxCurrentJob->isChecked();
    QTreeWidget& list = *ui->lvwRuns;
    const QSignalBlocker quiet(list);
    list.clear();
    QTreeWidgetItem* chosen = nullptr;
    for (const THistoryEntry& entry : fEntries) {
        if (onlyCurrent && entry.jobKey != fCurrentJobKey) continue;
        auto* item = new QTreeWidgetItem(&list);
        item->setText(colStart, qs(formatGermanDateTime(entry.start)));
        item->setText(colJob, qs(entry.jobName.empty() ? entry.jobKey : entry.jobName));
        item->setToolTip(colJob, qs("Backup-" + entry.jobKey));
        item->setText(colVerdict,
                      entry.verdict.empty() ? QStringLiteral("ohne Ergebnis") : qs(entry.verdict));
        if (const QColor color = verdictColor(entry.verdict); color.isValid())
            for (int column = 0; column < list.columnCount(); ++column)
                item->setForeground(column, QBrush(color));
        const int counts[] = {entry.errors, entry.warnings, entry.copied, entry.deleted};
        for (int i = 0; i < 4; ++i) {
            item->setText(colErrors + i, QString::number(counts[i]));
            item->setTextAlignment(colErrors + i, Qt::AlignRight | Qt::AlignVCenter);
        }
        item->setData(colStart, Qt::UserRole, QByteArray::fromStdString(entry.path));
        if (entry.path == choose || !chosen) chosen = item;
    }
    ui->lblEmpty->setText(fEntries.empty()
                              ? QStringLiteral("Es sind noch keine Protokolle früherer Läufe "
                                               "aufbewahrt.")
                              : QStringLiteral("Vom aktuellen Job sind noch keine Protokolle "
                                               "aufbewahrt."));
    ui->stkRuns->setCurrentWidget(list.topLevelItemCount() > 0 ? static_cast<QWidget*>(&list)
                                                               : ui->lblEmpty);
    ui->btnOpenFolder->setEnabled(!fEntries.empty());
    list.setCurrentItem(chosen);
    runChosen();
}

std::string TfrmHistory::chosenFile() const {
    const QTreeWidgetItem* item = ui->lvwRuns->currentItem();
    return item ? item->data(colStart, Qt::UserRole).toByteArray().toStdString() : std::string();
}

void TfrmHistory::showRun(const std::string& file) {
    const bool kept = isKeptProtocolOf(fFolder, file);
    if (kept) refresh();
    const auto entry = std::find_if(fEntries.begin(), fEntries.end(), [&](const THistoryEntry& e) {
        return extractFileName(e.path) == extractFileName(file);
    });
    if (!kept || entry == fEntries.end()) {
        ui->lvwRuns->setCurrentItem(nullptr);
        ui->memProtocol->setPlainText(
            qs("Das Protokoll \"" + escapeControls(file) +
               "\" ist nicht unter den aufbewahrten Läufen dieser Einstellungen."));
        return;
    }
    if (ui->cbxCurrentJob->isChecked() && entry->jobKey != fCurrentJobKey) {
        const QSignalBlocker quiet(ui->cbxCurrentJob);
        ui->cbxCurrentJob->setChecked(false);
    }
    fill(entry->path);
}

void TfrmHistory::runChosen() {
    ui->memProtocol->clear();
    const std::string file = chosenFile();
    if (file.empty()) return;
    std::string error;
    std::string text = readKeptProtocol(file, error);
    if (!error.empty()) text = error;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    fView->append(text);
    fView->flush();
    ui->memProtocol->moveCursor(QTextCursor::Start);
}

void TfrmHistory::openFolder() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(fFolder)));
}

}  // namespace qvb
