#include "ui/QV_Restore.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "jobs/CopyJob.h"
#include "session/Session.h"
#include "ui/QV_SelectDir.h"
#include "ui_QV_Restore.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"

namespace qvb {

namespace {

// What an item of the tree holds besides its texts.
constexpr int kPathRole = Qt::UserRole;        // its path in the version, bytes
constexpr int kRootRole = Qt::UserRole + 1;    // the index of its root
constexpr int kFolderRole = Qt::UserRole + 2;  // a folder
constexpr int kFilledRole = Qt::UserRole + 3;  // a folder whose entries are listed

QString shown(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string bytesOf(const QTreeWidgetItem& item) {
    const QByteArray path = item.data(0, kPathRole).toByteArray();
    return std::string(path.constData(), static_cast<size_t>(path.size()));
}

std::string withoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isFolderItem(const QTreeWidgetItem& item) {
    return item.data(0, kFolderRole).toBool();
}

void addPlaceholder(QTreeWidgetItem& folder) {
    // Lets the folder show its arrow before its entries are read.
    folder.addChild(new QTreeWidgetItem(QStringList{QString()}));
}

}  // namespace

TConflictAnswer askAboutConflict(QWidget* parent, const std::string& to, bool& forAll) {
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("Wiederherstellen"),
        QStringLiteral("\"%1\" ist vorhanden und weicht von der Sicherung ab.").arg(shown(to)),
        QMessageBox::NoButton, parent);
    QPushButton* replace = box.addButton(QStringLiteral("&Ersetzen"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QStringLiteral("Ü&berspringen"), QMessageBox::RejectRole);
    QPushButton* both = box.addButton(QStringLiteral("Beide &behalten"), QMessageBox::AcceptRole);
    box.setInformativeText(
        QStringLiteral("\"Beide behalten\" stellt die Datei mit \" (wiederhergestellt)\" vor der "
                       "Endung daneben wieder her."));
    box.setDefaultButton(skip);
    box.setEscapeButton(skip);
    box.setCheckBox(new QCheckBox(QStringLiteral("für alle weiteren Dateien")));
    box.exec();
    forAll = box.checkBox()->isChecked();
    if (box.clickedButton() == replace) return TConflictAnswer::Replace;
    if (box.clickedButton() == both) return TConflictAnswer::KeepBoth;
    return TConflictAnswer::Skip;
}

TfrmRestore::TfrmRestore(TSession& session, TCopyJob& job, QWidget* parent)
    : QDialog(parent), ui(new Ui::TfrmRestore), fSession(session), fJob(job) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Wiederherstellen aus \"%1\"").arg(shown(job.fJobName)));
    chooseTarget = [](QWidget* owner, const std::string& start) {
        return chooseFolder(owner, "Wiederherstellen nach", start);
    };
    ui->splitter->setStretchFactor(1, 3);
    ui->tvwFiles->setColumnWidth(0, 330);
    ui->tvwFileVersions->setColumnWidth(0, 150);
    ui->tvwFileVersions->setColumnWidth(1, 150);
    connect(ui->lbxVersions, &QListWidget::currentRowChanged, this, &TfrmRestore::versionChosen);
    connect(ui->tvwFiles, &QTreeWidget::itemExpanded, this, &TfrmRestore::itemExpanded);
    connect(ui->edtFilter, &QLineEdit::textChanged, this, &TfrmRestore::applyFilter);
    connect(ui->btnFileVersions, &QPushButton::clicked, this, &TfrmRestore::showFileVersions);
    connect(ui->btnTargetDir, &QPushButton::clicked, this, &TfrmRestore::chooseTargetDir);
    connect(ui->btnRestore, &QPushButton::clicked, this, &TfrmRestore::restoreSelected);
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { fSession.cancelRestore(); });
    connect(ui->btnClose, &QPushButton::clicked, this, &TfrmRestore::reject);
    connect(ui->edtTargetDir, &QLineEdit::textEdited, this,
            [this] { ui->rbtFolder->setChecked(true); });
    fShownLines = fSession.protocol().lines().size();
    fillVersions();
}

TfrmRestore::~TfrmRestore() = default;

void TfrmRestore::reject() {
    // Closing in the middle would leave the restore without its window.
    if (fRunning) {
        fSession.cancelRestore();
        return;
    }
    QDialog::reject();
}

void TfrmRestore::fillVersions() {
    fVersions = jobVersions(fJob);
    ui->lbxVersions->clear();
    for (const TVersion& version : fVersions)
        ui->lbxVersions->addItem(
            shown(formatGermanDateTime(version.time) + "   " +
                  (version.name == "." ? std::string("Zielverzeichnis") : version.name) + "   " +
                  versionStateText(version.state)));
    if (fVersions.empty())
        ui->lblSummary->setText(QStringLiteral("Im Zielverzeichnis \"%1\" gibt es keine Version.")
                                    .arg(shown(fJob.fDestination)));
    else
        ui->lbxVersions->setCurrentRow(0);
}

void TfrmRestore::versionChosen(int row) {
    ui->tvwFiles->clear();
    ui->tvwFileVersions->clear();
    ui->lblFileVersions->clear();
    fRoots.clear();
    if (row < 0 || static_cast<size_t>(row) >= fVersions.size()) return;
    fRoots = versionRoots(fJob, fVersions[static_cast<size_t>(row)]);
    for (size_t i = 0; i < fRoots.size(); ++i) {
        const TVersionRoot& root = fRoots[i];
        auto* item = new QTreeWidgetItem(ui->tvwFiles);
        item->setText(0, root.original.empty()
                             ? QStringLiteral("(Inhalt mehrerer Quellverzeichnisse)")
                             : shown(withoutSlash(root.original)));
        const std::string path = withoutSlash(root.inBackup);
        item->setData(0, kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
        item->setData(0, kRootRole, static_cast<int>(i));
        item->setData(0, kFolderRole, true);
        addPlaceholder(*item);
    }
    if (fRoots.size() == 1) ui->tvwFiles->topLevelItem(0)->setExpanded(true);
}

void TfrmRestore::itemExpanded(QTreeWidgetItem* item) {
    if (item && !item->data(0, kFilledRole).toBool()) fillFolder(*item);
}

void TfrmRestore::fillFolder(QTreeWidgetItem& folder) {
    folder.setData(0, kFilledRole, true);
    qDeleteAll(folder.takeChildren());
    const std::string base = bytesOf(folder) + "/";
    const int root = folder.data(0, kRootRole).toInt();
    for (const TVersionEntry& entry : listVersionFolder(base)) {
        auto* item = new QTreeWidgetItem(&folder);
        item->setText(0, shown(entry.name) + (entry.link ? QStringLiteral(" →") : QString()));
        if (!entry.folder) {
            item->setText(1, shown(formatFileSize(entry.size)));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        item->setText(2, shown(formatGermanDateTime(entry.time)));
        const std::string path = base + entry.name;
        item->setData(0, kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
        item->setData(0, kRootRole, root);
        item->setData(0, kFolderRole, entry.folder);
        if (entry.folder) addPlaceholder(*item);
        item->setHidden(filterHides(*item));
    }
}

bool TfrmRestore::filterHides(const QTreeWidgetItem& item) const {
    const QString filter = ui->edtFilter->text().trimmed();
    if (filter.isEmpty() || isFolderItem(item)) return false;
    if (filter.contains(QLatin1Char('*')) || filter.contains(QLatin1Char('?'))) {
        const QRegularExpression pattern(QRegularExpression::wildcardToRegularExpression(filter),
                                         QRegularExpression::CaseInsensitiveOption);
        return !pattern.match(item.text(0)).hasMatch();
    }
    return !item.text(0).contains(filter, Qt::CaseInsensitive);
}

void TfrmRestore::applyFilter() {
    std::vector<QTreeWidgetItem*> pending;
    for (int i = 0; i < ui->tvwFiles->topLevelItemCount(); ++i)
        pending.push_back(ui->tvwFiles->topLevelItem(i));
    while (!pending.empty()) {
        QTreeWidgetItem* item = pending.back();
        pending.pop_back();
        item->setHidden(filterHides(*item));
        for (int i = 0; i < item->childCount(); ++i) pending.push_back(item->child(i));
    }
}

void TfrmRestore::showFileVersions() {
    ui->tvwFileVersions->clear();
    const QTreeWidgetItem* item = ui->tvwFiles->currentItem();
    const int row = ui->lbxVersions->currentRow();
    if (!item || row < 0 || item->data(0, kPathRole).isNull()) {
        ui->lblFileVersions->setText(QStringLiteral("Bitte zuerst eine Datei auswählen."));
        return;
    }
    const TVersion& version = fVersions[static_cast<size_t>(row)];
    const std::string path = bytesOf(*item);
    const TVersionRoot& root = fRoots[static_cast<size_t>(item->data(0, kRootRole).toInt())];
    const std::string inVersion = path.substr(version.path.size());
    // Where the origin is known the versions are compared with the file there
    // now; otherwise with the one chosen.
    const std::string original =
        root.original.empty()
            ? std::string()
            : withoutSlash(root.original +
                           path.substr(std::min(path.size(), root.inBackup.size())));
    const std::string compareWith = original.empty() ? path : original;
    const std::vector<TFileVersion> found =
        fileVersionsAt(fVersions, inVersion, compareWith, fJob.fTimeTolerance);
    int differing = 0;
    for (const TFileVersion& f : found) {
        auto* row = new QTreeWidgetItem(ui->tvwFileVersions);
        row->setText(
            0, shown(f.version->name == "." ? std::string("Zielverzeichnis") : f.version->name));
        row->setText(1, shown(formatGermanDateTime(f.fileTime)));
        row->setText(2, f.size < 0 ? QStringLiteral("Verzeichnis") : shown(formatFileSize(f.size)));
        row->setText(3, f.differs ? QStringLiteral("abweichend") : QStringLiteral("gleich"));
        if (f.differs) {
            ++differing;
            QFont font = row->font(3);
            font.setBold(true);
            row->setFont(3, font);
        }
    }
    const QString name = shown(original.empty() ? inVersion : original);
    ui->lblFileVersions->setText(
        original.empty()
            ? QStringLiteral("%1 Versionen von %2, %3 anders als in der gewählten Version")
                  .arg(found.size())
                  .arg(name)
                  .arg(differing)
            : QStringLiteral("%1 Versionen von %2, %3 anders als die Datei dort jetzt")
                  .arg(found.size())
                  .arg(name)
                  .arg(differing));
}

void TfrmRestore::chooseTargetDir() {
    const std::string start = ui->edtTargetDir->text().toStdString();
    const std::string dir = chooseTarget(this, start.empty() ? std::string("/") : start);
    if (dir.empty()) return;
    ui->edtTargetDir->setText(shown(dir));
    ui->rbtFolder->setChecked(true);
}

std::vector<TRestoreItem> TfrmRestore::chosenItems(std::string& error) {
    std::vector<TRestoreItem> items;
    const QList<QTreeWidgetItem*> selected = ui->tvwFiles->selectedItems();
    const bool toFolder = ui->rbtFolder->isChecked();
    const std::string folder = ui->edtTargetDir->text().trimmed().toStdString();
    if (toFolder && (folder.empty() || folder[0] != '/')) {
        error = "Bitte ein Verzeichnis angeben, in das wiederhergestellt wird.";
        return {};
    }
    for (const QTreeWidgetItem* item : selected) {
        if (item->data(0, kPathRole).isNull()) continue;
        // What a chosen folder brings back anyway is not restored twice.
        bool inChosenFolder = false;
        for (const QTreeWidgetItem* up = item->parent(); up; up = up->parent())
            inChosenFolder = inChosenFolder || up->isSelected();
        if (inChosenFolder) continue;
        const TVersionRoot& root = fRoots[static_cast<size_t>(item->data(0, kRootRole).toInt())];
        const std::string from = bytesOf(*item);
        const std::string below =
            from.size() > root.inBackup.size() ? from.substr(root.inBackup.size()) : std::string();
        if (!toFolder && root.original.empty()) {
            error =
                "Mehrere Quellverzeichnisse teilen sich das Zielverzeichnis, der ursprüngliche Ort "
                "ist nicht bekannt: bitte ein Verzeichnis wählen, in das wiederhergestellt wird.";
            return {};
        }
        const std::string base =
            toFolder ? includeTrailingDelimiter(expandFileName(folder)) : root.original;
        items.push_back({from, withoutSlash(base + below)});
    }
    if (items.empty() && error.empty())
        error = "Bitte Dateien oder Verzeichnisse auswählen, die wiederhergestellt werden.";
    return items;
}

void TfrmRestore::restoreSelected() {
    if (fRunning) return;
    std::string error;
    const std::vector<TRestoreItem> items = chosenItems(error);
    if (items.empty()) {
        ui->lblSummary->setText(shown(error));
        if (ui->rbtOriginal->isChecked() && error.find("Mehrere") == 0)
            ui->rbtFolder->setChecked(true);
        return;
    }
    const TVersion& version = fVersions[static_cast<size_t>(ui->lbxVersions->currentRow())];
    bool asked = false;
    TConflictAnswer always = TConflictAnswer::Skip;
    TRestoreEvents events;
    events.onConflict = [&](const std::string&, const std::string& to) {
        if (asked) return always;
        bool forAll = false;
        const TConflictAnswer answer = askConflict(this, to, forAll);
        if (forAll) {
            asked = true;
            always = answer;
        }
        return answer;
    };
    events.onProgress = [this](const TRestore& restore) {
        ui->pbrRestore->setValue(restore.fPercent);
        ui->lblProgress->setText(shown(restore.fProgressText));
        showNewProtocolLines();
    };
    setRunning(true);
    ui->lblSummary->clear();
    const TRestoreOutcome outcome = fSession.restore(fJob, version.name, items, false, events);
    setRunning(false);
    showNewProtocolLines();
    ui->pbrRestore->setValue(outcome.cancelled ? ui->pbrRestore->value() : 100);
    std::string summary = outcome.verdict;
    for (const std::string& line : outcome.summary) summary += "\n" + line.substr(2);
    ui->lblSummary->setText(shown(summary));
}

void TfrmRestore::setRunning(bool running) {
    fRunning = running;
    ui->btnCancel->setEnabled(running);
    ui->btnRestore->setEnabled(!running);
    ui->btnClose->setEnabled(!running);
    ui->lbxVersions->setEnabled(!running);
    ui->tvwFiles->setEnabled(!running);
    ui->gbxTarget->setEnabled(!running);
}

void TfrmRestore::showNewProtocolLines() {
    const std::vector<std::string>& lines = fSession.protocol().lines();
    for (; fShownLines < lines.size(); ++fShownLines)
        ui->memProtocol->appendPlainText(shown(lines[fShownLines]));
}

}  // namespace qvb
