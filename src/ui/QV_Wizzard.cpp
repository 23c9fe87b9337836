#include "ui/QV_Wizzard.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <algorithm>

#include "jobs/BU_Options.h"
#include "jobs/CopyJob.h"
#include "jobs/Schedule.h"
#include "ui/DestinationInput.h"
#include "ui/QV_Rename.h"
#include "ui/QV_SelectDir.h"
#include "ui/WindowFlags.h"
#include "ui_QV_Wizzard.h"
#include "util/DateTime.h"
#include "util/QV_Basics.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

const char* const kNoNameWarning =
    "Ein namenloser Backup-Job macht wenig Sinn.\r\nBitte geben Sie eine Bezeichnung ein.";
const char* const kNoSourceWarning =
    "Was soll gesichert werden?\r\nBitte geben Sie mindestens ein Quellverzeichnis an.";
const char* const kNoDestinationWarning =
    "Wohin soll gesichert werden?\r\nBitte geben Sie das Zielverzeichnis an.";
const char* const kCancelQuestion =
    "Die Angaben zum neuen Backup-Job gehen verloren.\r\nDen Assistenten abbrechen?";
const char* const kDeleteExplanation =
    "Ein Häkchen hier bedeutet, dass das Ziel-\nverzeichnis eine 1:1 Kopie des Quellver-\n"
    "zeichnisses wird. D.h. Dateien, die im\nQuellverzeichnis gelöscht wurden, werden\n"
    "auch im Zielverzeichnis gelöscht.";

// Where a source row keeps its folder as bytes: a name that is not valid
// UTF-8 must reach the job unchanged.
constexpr int kPathRole = Qt::UserRole;

// What one interval choice shows on steps 4 and 5.
struct TIntervalTexts {
    const char* next;
    const char* label17;
    const char* startCaption;
    const char* startWord;
    const char* lines[4];
};

const TIntervalTexts kIntervalTexts[] = {
    {"Fertigstellen",
     "Wenn Sie den Backup-Job manuell starten wollen, ist er jetzt vollständig definiert.",
     nullptr,
     nullptr,
     {}},
    {"Weiter",
     "Ein wöchentlicher Backup-Job braucht noch einen Starttag und eine Startzeit.",
     " wöchentliche Ausführung ",
     "um",
     {"",
      "Der Backup-Job wird ab dem Starttag zur festgelegten Uhrzeit im Wochenrhythmus ausgeführt",
      "", ""}},
    {"Weiter",
     "Ein täglicher Backup-Job braucht noch eine Startzeit.",
     " tägliche Ausführung ",
     "um",
     {"", "Der Backup-Job wird jeden Tag zur festgelegten Uhrzeit gestartet.", "", ""}},
    {"Weiter",
     "Ein stündlicher Backup-Job braucht noch eine Start- und eine Endzeit.",
     " stündliche Ausführung ",
     "von",
     {"Stunden-Backups werden nur zwischen Start- und Endzeit ausgeführt.",
      "Zur Startzeit wird das erste Backup ausgeführt.",
      "Ist die Endzeit verstrichen, werden keine weiteren Backups mehr ausgeführt.",
      "Sie können das Backup so z.B. auf die Arbeitszeit begrenzen."}},
};

QString shown(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string rowPath(const QListWidgetItem& row) {
    return row.data(kPathRole).toByteArray().toStdString();
}

TDateTime dayNumber(const QDate& date) {
    return encodeDate(date.year(), date.month(), date.day());
}

QDate calendarDate(TDateTime value) {
    const TDateParts parts = decodeDateTime(value);
    return QDate(parts.year, parts.month, parts.day);
}

TDateTime timeValue(const QTime& time) {
    return encodeTime(time.hour(), time.minute(), time.second());
}

void setShown(std::initializer_list<QWidget*> widgets, bool visible) {
    for (QWidget* widget : widgets) widget->setVisible(visible);
}

void warn(const std::string& text) {
    userInterface().showMessage(TMsgKind::Warning, text, mbOK, TMsgResult::OK);
}

}  // namespace

TfrmWizzard::TfrmWizzard(TQV_BackupOptions& options, QWidget* parent)
    : QDialog(parent),
      ui(new Ui::TfrmWizzard),
      fOptions(options),
      fIntervals(new QButtonGroup(this)) {
    ui->setupUi(this);
    setWindowFlags(kToolDialogFlags);
    const QList<QRadioButton*> radios = {ui->rbtIntervall0, ui->rbtIntervall1, ui->rbtIntervall2,
                                         ui->rbtIntervall3};
    for (int index = 0; index < radios.size(); ++index) fIntervals->addButton(radios[index], index);
    ui->dtpDatum->setDate(calendarDate(nowDateTime()));
    connect(fIntervals, &QButtonGroup::idClicked, this, &TfrmWizzard::RadioGroup1Click);
    connect(ui->btnNext, &QPushButton::clicked, this, &TfrmWizzard::btnNextClick);
    connect(ui->btnPrev, &QPushButton::clicked, this, &TfrmWizzard::btnPrevClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmWizzard::cancelAsking);
    connect(ui->btnDirSource, &QPushButton::clicked, this, &TfrmWizzard::btnDirSourceClick);
    connect(ui->btnDirDest, &QPushButton::clicked, this, &TfrmWizzard::btnDirDestClick);
}

TfrmWizzard::~TfrmWizzard() = default;

// --- Showing --------------------------------------------------------------

void TfrmWizzard::showEvent(QShowEvent* event) {
    // A window restored from the task bar shows again, but is no new job.
    if (!event->spontaneous()) FormShow();
    // The window sees Enter and Entf before its controls do.
    qApp->installEventFilter(this);
    QDialog::showEvent(event);
}

void TfrmWizzard::hideEvent(QHideEvent* event) {
    qApp->removeEventFilter(this);
    QDialog::hideEvent(event);
}

// Closing the frame cancels like "Abbrechen".
void TfrmWizzard::closeEvent(QCloseEvent* event) {
    event->ignore();
    cancelAsking();
}

void TfrmWizzard::reject() {
    cancelAsking();
}

// What the user filled in past the name step is not thrown away unasked.
void TfrmWizzard::cancelAsking() {
    if (fStep > 1 && userInterface().showMessage(TMsgKind::Confirmation, kCancelQuestion,
                                                 mbYes | mbNo, TMsgResult::No) != TMsgResult::Yes)
        return;
    done(QDialog::Rejected);
}

// Every new job starts from the defaults: nothing of the job made before
// (its deletion option least of all) carries over.
void TfrmWizzard::FormShow() {
    fStep = 1;
    showStep();
    ui->lblJobName->setText(QStringLiteral("neuer Backup-Job:"));
    ui->btnPrev->setText(QStringLiteral("Abbrechen"));
    ui->edtJobName->setText(QString::fromStdString(fJob->fJobName));
    ui->edtJobName->setFocus();
    ui->edtDestDir->setText(shown(fJob->fDestination));
    ui->WizzardCheckListBoxSourceDirs->clear();
    const int interval = std::clamp(int{fJob->fInterval}, int{kIntervalOnce}, int{kIntervalHourly});
    fIntervals->button(interval)->setChecked(true);
    RadioGroup1Click(interval);
    ui->btnNext->setText(QStringLiteral("Weiter"));
    ui->lblLoeschen->setText(QString::fromUtf8(kDeleteExplanation));
    ui->cbxLoeschen->setChecked(fJob->fDelete);
    ui->cbxContentOnly->setChecked(fJob->fContentOnly);
    // An automatic job keeps many versions: they share the space of unchanged files.
    ui->cbxSaveSpace->setChecked(true);
    ui->dtpDatum->setDate(calendarDate(nowDateTime()));
    ui->dtpStartZeit->setTime(QTime(8, 0));
    ui->dtpEndZeit->setTime(QTime(18, 0));
}

// One panel at a time, with the step's big number beside it.
void TfrmWizzard::showStep() {
    ui->pnlSteps->setCurrentIndex(fStep - 1);
    ui->lblNr1->move(ui->lblNr1->x(), (fStep - 1) * ui->lblNr1->height() + 8);
    ui->lblNr1->setText(QString::number(fStep));
    // On the first step "Abbrechen" is the left button itself.
    ui->btnCancel->setVisible(fStep > 1);
}

// --- Stepping ---------------------------------------------------------------

void TfrmWizzard::btnNextClick() {
    if (fStep < 6) ++fStep;
    ui->btnPrev->setText(QStringLiteral("Zurück"));
    bool finished = false;
    switch (fStep) {
        case 2:
            if (!takeName()) fStep = 1;
            break;
        case 3:
            if (!takeSources()) fStep = 2;
            break;
        case 4:
            if (!takeDestination()) fStep = 3;
            break;
        case 5:
            finished = takeOptions();
            break;
        default:
            finished = true;
    }
    if (finished)
        finish();
    else
        showStep();
}

void TfrmWizzard::btnPrevClick() {
    if (fStep < 2) {
        done(QDialog::Rejected);
        return;
    }
    --fStep;
    showStep();
    ui->btnNext->setText(QStringLiteral("Weiter"));
    if (fStep == 1) ui->btnPrev->setText(QStringLiteral("Abbrechen"));
}

bool TfrmWizzard::takeName() {
    if (ui->edtJobName->text().isEmpty()) {
        warn(kNoNameWarning);
        return false;
    }
    const std::string name = ui->edtJobName->text().toStdString();
    if (nameTaken && nameTaken(name)) {
        warn(nameTakenWarning(name));
        return false;
    }
    fJob->fJobName = name;
    ui->lblJobName->setText(QStringLiteral("Backup-Job \"%1\"").arg(ui->edtJobName->text()));
    return true;
}

// The rows become the sources with their check marks as shown. They replace
// the job's sources, so stepping back and forth lists each once.
bool TfrmWizzard::takeSources() {
    QListWidget& rows = *ui->WizzardCheckListBoxSourceDirs;
    if (rows.count() == 0) {
        warn(kNoSourceWarning);
        return false;
    }
    fJob->fSources.clear();
    for (int row = 0; row < rows.count(); ++row)
        fJob->fSources.push_back(
            makeSourceEntry(rowPath(*rows.item(row)), rows.item(row)->checkState() == Qt::Checked));
    return true;
}

// A typed destination counts as much as a chosen one. While the field still
// shows the job's destination, its bytes are kept as they are.
bool TfrmWizzard::takeDestination() {
    const QString text = ui->edtDestDir->text();
    if (text.isEmpty()) {
        warn(kNoDestinationWarning);
        return false;
    }
    const std::string typed = expandedDestination(text == shown(fJob->fDestination)
                                                      ? fJob->fDestination
                                                      : QFile::encodeName(text).toStdString());
    if (const std::string error = destinationInputError(typed); !error.empty()) {
        warn(error);
        return false;
    }
    fJob->setDestination(typed);
    ui->edtDestDir->setText(shown(fJob->fDestination));
    if (sourceInDestination()) return false;
    warnDestinationInSource();
    ui->btnNext->setText(
        QString::fromUtf8(fJob->fInterval != kIntervalOnce ? "Weiter" : "Fertigstellen"));
    return true;
}

// A run refuses a source inside its destination, so such a job is not made.
bool TfrmWizzard::sourceInDestination() {
    for (const std::string& entry : fJob->fSources) {
        const std::string source = sourceEntryDirectory(entry);
        if (!isAtOrBelow(source, fJob->fDestination)) continue;
        warn("Das Quellverzeichnis \"" + source + "\" liegt im Zielverzeichnis \"" +
             fJob->fDestination +
             "\".\r\nBitte wählen Sie ein Zielverzeichnis außerhalb der Quellverzeichnisse.");
        return true;
    }
    return false;
}

// A destination inside a source works (the source scan leaves it out), but
// the user should know.
void TfrmWizzard::warnDestinationInSource() {
    const std::string existing = nearestExistingAncestor(fJob->fDestination);
    for (const std::string& entry : fJob->fSources) {
        const std::string source = sourceEntryDirectory(entry);
        if (!isAtOrBelow(existing, source)) continue;
        warn("Das Zielverzeichnis \"" + fJob->fDestination + "\" liegt im Quellverzeichnis \"" +
             source + "\".\r\nEs wird beim Sichern dieser Quelle ausgelassen.");
        return;
    }
}

// True when the job is complete without a step 5.
bool TfrmWizzard::takeOptions() {
    fJob->setDelete(ui->cbxLoeschen->isChecked());
    fJob->fContentOnly = ui->cbxContentOnly->isChecked();
    if (fJob->fInterval == kIntervalOnce) return true;
    ui->btnNext->setText(QStringLiteral("Fertigstellen"));
    ui->dtpDatum->setDate(calendarDate(nowDateTime()));
    return false;
}

// The weekday comes first, so that the first run of a weekly job already
// falls on the chosen day.
void TfrmWizzard::finish() {
    const TDateTime day = dayNumber(ui->dtpDatum->date());
    fJob->fEndTime = day + timeValue(ui->dtpEndZeit->time());
    fJob->fWeekday = isoDayOfWeek(day);
    fJob->setStartTime(day + timeValue(ui->dtpStartZeit->time()));
    fJob->fSaveSpace = fJob->fInterval != kIntervalOnce && ui->cbxSaveSpace->isChecked();
    ui->btnNext->setText(QStringLiteral("Weiter"));
    done(QDialog::Accepted);
}

// --- Interval ---------------------------------------------------------------

void TfrmWizzard::RadioGroup1Click(int index) {
    fJob->setInterval(static_cast<TJobInterval>(index));
    const TIntervalTexts& texts = kIntervalTexts[index];
    ui->btnNext->setText(QString::fromUtf8(texts.next));
    ui->Label17->setText(QString::fromUtf8(texts.label17));
    fJob->fActive = index != kIntervalOnce;
    if (index == kIntervalOnce) return;
    ui->gbxStart->setTitle(QString::fromUtf8(texts.startCaption));
    setShown({ui->dtpDatum, ui->lblStartTag, ui->lblCalendarHint}, index == kIntervalWeekly);
    setShown({ui->dtpEndZeit, ui->lblEndStunde, ui->lblEndUhr}, index == kIntervalHourly);
    ui->lblStartStunde->setText(QString::fromUtf8(texts.startWord));
    const QList<QLabel*> lines = {ui->lbl1Step5, ui->lbl2Step5, ui->lbl3Step5, ui->lbl4Step5};
    for (int line = 0; line < lines.size(); ++line)
        lines[line]->setText(QString::fromUtf8(texts.lines[line]));
    ui->lblTimeHint->setVisible(true);
}

// --- Folders ----------------------------------------------------------------

// The dialog opens where the previous choice was and keeps the new one.
void TfrmWizzard::btnDirSourceClick() {
    const std::string dir = chooseFolder(this, "Quellverzeichnis", fOptions.LastSrcDir);
    if (dir.empty()) return;
    fOptions.LastSrcDir = dir;
    QListWidget& rows = *ui->WizzardCheckListBoxSourceDirs;
    for (int row = 0; row < rows.count(); ++row)
        if (rowPath(*rows.item(row)) == dir) return;
    auto* row = new QListWidgetItem(shown(dir));
    row->setData(kPathRole, QByteArray::fromStdString(dir));
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(Qt::Checked);
    rows.addItem(row);
}

void TfrmWizzard::btnDirDestClick() {
    const std::string dir = chooseFolder(this, "Zielverzeichnis", fOptions.LastDestDir);
    if (dir.empty()) return;
    fOptions.LastDestDir = dir;
    fJob->setDestination(dir);
    ui->edtDestDir->setText(shown(fJob->fDestination));
}

void TfrmWizzard::WizzardCheckListBoxSourceDirsKeyDown() {
    delete ui->WizzardCheckListBoxSourceDirs->currentItem();
}

// --- Keys -------------------------------------------------------------------

bool TfrmWizzard::isKeyPressOf(QObject* watched, QEvent* event, int key) const {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    const auto* press = static_cast<QKeyEvent*>(event);
    const int pressed = press->key() == Qt::Key_Enter ? Qt::Key_Return : press->key();
    return pressed == key && (press->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
           static_cast<QWidget*>(watched)->window() == this;
}

// Enter counts when pressed: its release may belong to the Enter that closed
// a message box or the folder dialog, and must not skip a step. A held key
// does not race through the steps either.
bool TfrmWizzard::eventFilter(QObject* watched, QEvent* event) {
    if (isKeyPressOf(watched, event, Qt::Key_Return)) {
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) btnNextClick();
        return true;
    }
    if (watched == ui->WizzardCheckListBoxSourceDirs &&
        isKeyPressOf(watched, event, Qt::Key_Delete)) {
        WizzardCheckListBoxSourceDirsKeyDown();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qvb
