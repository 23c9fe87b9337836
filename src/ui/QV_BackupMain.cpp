#include "ui/QV_BackupMain.h"

#include <QBrush>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QScreen>
#include <QTime>
#include <algorithm>
#include <optional>
#include <utility>

#include "engine/CopyFolder.h"
#include "jobs/BU_Options.h"
#include "jobs/CopyJobList.h"
#include "jobs/CopyJobStorage.h"
#include "session/BackgroundTimers.h"
#include "session/TimerUnits.h"
#include "ui/ButtonRows.h"
#include "ui/DestinationInput.h"
#include "ui/ListBox.h"
#include "ui/ProtocolView.h"
#include "ui/QV_BackupHelp.h"
#include "ui/QV_History.h"
#include "ui/QV_Info.h"
#include "ui/QV_Rename.h"
#include "ui/QV_Restore.h"
#include "ui/QV_SelectDir.h"
#include "ui/QV_Wizzard.h"
#include "ui/SessionEnd.h"
#include "ui_QV_BackupMain.h"
#include "util/DateTime.h"
#include "util/QV_Basics.h"
#include "util/QV_Utils.h"
#include "util/TextCase.h"
#include "util/UserInterface.h"

namespace qvb {

namespace {

class TClickForBox : public QObject {
  public:
    TClickForBox(QCheckBox& box, QObject* parent) : QObject(parent), fBox(box) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonRelease || !fBox.isEnabled())
            return QObject::eventFilter(watched, event);
        fBox.click();
        return true;
    }

  private:
    QCheckBox& fBox;
};

constexpr int kDeleteKey = Qt::Key_Delete;
const char* const kFirstStartQuestion =
    "Es ist noch kein Backup-Job angelegt.\r\nJetzt mit dem Assistenten einen neuen Job anlegen?";
const char* const kOnlyJobWarning =
    "Der aktuelle Backupjob ist der einzige und \rkann daher nicht gelöscht werden.";
// Where a row of the source list keeps its folder as bytes: a name that is not
// valid UTF-8 must reach the job unchanged.
constexpr int kPathRole = Qt::UserRole;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string bytesOf(const QListWidgetItem& item) {
    return item.data(kPathRole).toByteArray().toStdString();
}

QTime timeOfDay(TDateTime value) {
    const TDateParts parts = decodeDateTime(value);
    return QTime(parts.hour, parts.minute, parts.second);
}

TDateTime withTimeOfDay(TDateTime value, const QTime& time) {
    return dateOf(value) + encodeTime(time.hour(), time.minute(), time.second());
}

void setChecked(QListWidgetItem& item, bool checked) {
    item.setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::TfrmMain), fSelfTestRoots(defaultSelfTestRoots()) {
    ui->setupUi(this);
    fProtocolView = new TProtocolView(ui->MemoLog);
    ui->MemoLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A stored date wraps into date and time: keep room for both lines, so the
    // clock group does not cut the time once the first run has set it.
    ui->lblLastBackupzeit->setMinimumHeight(2 * ui->lblLastBackupzeit->fontMetrics().lineSpacing());
    tmrIntervall.setInterval(1000);
    tmrRefresh.setInterval(1000);
    connect(&tmrIntervall, &QTimer::timeout, this, &TfrmMain::tmrIntervallTimer);
    connect(&tmrRefresh, &QTimer::timeout, this, &runPostedCalls);
    fViewTimer.setSingleShot(true);
    fViewTimer.setInterval(50);
    connect(&fViewTimer, &QTimer::timeout, this, &TfrmMain::applyView);
    connectActions();
    connectEdits();
    connectRunControl();
    connectScheduler();

    const TDateTime now = nowDateTime();
    ui->lblDate->setText(qs(formatGermanDate(now)));
    ui->lblTime->setText(qs(formatGermanTime(now)));
    tmrIntervall.stop();
    if (const std::string error = fSession.open(); !error.empty()) {
        userInterface().showMessage(TMsgKind::Error, error, mbOK, TMsgResult::OK);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    fOptions = &fSession.options();
    fJobs = &fSession.jobs();
    placeWindow();
    fWizzard = new TfrmWizzard(*fOptions, this);
    fWizzard->nameTaken = [this](const std::string& name) { return fJobs->nameTaken(name); };
    // A run the scheduler started while the wizard was open holds up the
    // wizard's return: the window must not stay hidden until that run ends.
    connect(fWizzard, &QDialog::finished, this, &QWidget::show);
    if (fJobs->fCurrentJob >= 0) {
        fillJobRows();
        const int current = fJobs->fCurrentJob;
        if (current > 0 && current < fJobs->count()) {
            fControl.setCurrentJob(&fJobs->getJob(current - 1));
            ui->CheckListBoxJobs->selectRow(current - 1);
        }
        showJob();
    }
    fExeDirWritable = fSession.settingsFolderWritable();
    showBackgroundOption();
    lockActions(false);
    tmrRefresh.start();
    new TSessionEnd([this] { endSession(); }, this);
    fStarted = true;
    // A first start: no place stored yet, and an empty job would mean nothing
    // to a new user.
    if (fJobs->count() == 0) {
        centreOnPrimaryScreen();
        QTimer::singleShot(0, this, &TfrmMain::offerWizard);
    }
}

void TfrmMain::centreOnPrimaryScreen() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) return;
    const QRect screen = primary->availableGeometry();
    QRect frame(QPoint(), size());
    frame.moveCenter(screen.center());
    // A window bigger than the screen keeps its title bar in reach.
    move(std::max(frame.left(), screen.left()), std::max(frame.top(), screen.top()));
}

void TfrmMain::offerWizard() {
    if (fJobs->count() == 0 && !busy() &&
        userInterface().showMessage(TMsgKind::Confirmation, kFirstStartQuestion, mbYes | mbNo,
                                    TMsgResult::No) == TMsgResult::Yes)
        actionNewJobExecute();
}

TfrmMain::~TfrmMain() {
    fProtocol.setSink({});
}

// --- Start-up --------------------------------------------------------------

// The stored geometry, unless it would leave the window on no screen at all
// (a monitor that has gone since): then the window opens on the primary one.
void TfrmMain::placeWindow() {
    const QRect stored(fOptions->WinMainLeft, fOptions->WinMainTop, fOptions->WinMainWidth,
                       fOptions->WinMainHeight);
    resize(stored.size().expandedTo(minimumSize()));
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens())
        visible =
            visible || screen->availableGeometry().intersects(QRect(stored.topLeft(), size()));
    if (visible) {
        move(stored.topLeft());
    } else if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        move(primary->availableGeometry().topLeft());
    }
}

void TfrmMain::fillJobRows() {
    ui->CheckListBoxJobs->clear();
    ui->lbxNext->clear();
    for (int i = 0; i < fJobs->count(); ++i) {
        TCopyJob& job = fJobs->getJob(i);
        fControl.setCurrentJob(&job);
        auto* row = new QListWidgetItem(qs(job.fJobName), ui->CheckListBoxJobs);
        setChecked(*row, job.fActive);
        ui->lbxNext->addItem(QStringLiteral(" "));
        fSession.hookJob(job);
    }
}

void TfrmMain::connectActions() {
    for (QAction* action : findChildren<QAction*>()) addAction(action);
    connect(ui->actionClose, &QAction::triggered, this, &TfrmMain::actionCloseExecute);
    connect(ui->actionNewJob, &QAction::triggered, this, &TfrmMain::actionNewJobExecute);
    connect(ui->actionBackup, &QAction::triggered, this, &TfrmMain::actionBackupExecute);
    connect(ui->mnuJobStart, &QAction::triggered, ui->actionBackup, &QAction::trigger);
    connect(ui->actionBackup, &QAction::enabledChanged, ui->mnuJobStart, &QAction::setEnabled);
    connect(ui->actionPreview, &QAction::triggered, this, &TfrmMain::actionPreviewExecute);
    connect(ui->actionRestore, &QAction::triggered, this, &TfrmMain::actionRestoreExecute);
    connect(ui->actionSaveOptions, &QAction::triggered, this, &TfrmMain::actionSaveOptionsExecute);
    connect(ui->actionSaveLog, &QAction::triggered, this, &TfrmMain::actionSaveLogExecute);
    connect(ui->actionCancelJob, &QAction::triggered, this, &TfrmMain::actionCancelJobExecute);
    connect(ui->actionDeleteJob, &QAction::triggered, this, &TfrmMain::actionDeleteJobExecute);
    connect(ui->actionDeleteSourceDir, &QAction::triggered, this,
            &TfrmMain::actionDeleteSourceDirExecute);
    connect(ui->actionRenameJob, &QAction::triggered, this, &TfrmMain::actionRenameJobExecute);
    connect(ui->actionShowInfo, &QAction::triggered, this, &TfrmMain::actionShowInfoExecute);
    connect(ui->actionHistory, &QAction::triggered, this, &TfrmMain::actionHistoryExecute);
    connect(ui->actionShowLog, &QAction::triggered, this, &TfrmMain::actionShowLogExecute);
    connect(ui->actionImport, &QAction::triggered, this, &TfrmMain::actionImportExecute);
    connect(ui->actionExport, &QAction::triggered, this, &TfrmMain::actionExportExecute);
    connect(ui->actionSelfTest, &QAction::triggered, this, &TfrmMain::actionSelfTestExecute);
    connect(ui->actionBackground, &QAction::triggered, this, &TfrmMain::actionBackgroundExecute);
    connect(ui->mnuHelp, &QAction::triggered, this, &TfrmMain::mnuHelpClick);
    // Ctrl+A belongs to "&Ausführen" while idle and to the cancel action
    // during a run; two enabled actions with one shortcut would both be dead.
    ui->actionCancelJob->setEnabled(false);

    connectButton(ui->Button1, ui->actionBackup, true);
    connectButton(ui->btnPreview, ui->actionPreview, false);
    connectButton(ui->Button2, ui->actionCancelJob, false);
    connectButton(ui->btnNewJob, ui->actionNewJob, false);
    connectButton(ui->btnRename, ui->actionRenameJob, false);
    connectButton(ui->btnDelete, ui->actionDeleteJob, false);
    connectButton(ui->Button3, ui->actionShowLog, false);
    new TButtonRows(ui->gbxButtons, ui->layoutButtons,
                    {ui->Button1, ui->btnPreview, ui->Button2, ui->btnNewJob, ui->btnRename,
                     ui->btnDelete, ui->Button3});
}

// A button shows its action's state (and caption, unless it has its own) and
// triggers it. The shortcuts stay with the actions.
void TfrmMain::connectButton(QPushButton* button, QAction* action, bool ownCaption) {
    const auto follow = [button, action, ownCaption] {
        button->setEnabled(action->isEnabled());
        button->setToolTip(action->toolTip() == action->iconText() ? QString() : action->toolTip());
        if (!ownCaption) button->setText(action->text());
    };
    follow();
    connect(action, &QAction::changed, button, follow);
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

void TfrmMain::connectEdits() {
    TListBox* jobsList = ui->CheckListBoxJobs;
    connect(jobsList, &TListBox::mouseUp, this, &TfrmMain::CheckListBoxJobsChoose);
    connect(jobsList, &TListBox::keyUp, this, &TfrmMain::CheckListBoxJobsChoose);
    connect(jobsList, &TListBox::keyDown, this, &TfrmMain::CheckListBoxJobsKeyDown);
    connect(ui->lbxNext, &TListBox::mouseUp, this, &TfrmMain::lbxNextChoose);
    connect(ui->lbxNext, &TListBox::keyUp, this, &TfrmMain::lbxNextChoose);
    TListBox* sources = ui->CheckListBoxSourceDirs;
    connect(sources, &TListBox::mouseUp, this, &TfrmMain::CheckListBoxSourceDirsMouseUp);
    // A check mark set with the space bar counts like one set with the mouse.
    connect(sources, &TListBox::keyUp, this, &TfrmMain::CheckListBoxSourceDirsMouseUp);
    connect(sources, &TListBox::keyDown, this, &TfrmMain::CheckListBoxSourceDirsKeyDown);
    connect(ui->btnDirSource, &QPushButton::clicked, this, &TfrmMain::btnDirSourceClick);
    connect(ui->btnDirDest, &QPushButton::clicked, this, &TfrmMain::btnDirDestClick);
    connect(ui->edtZielVerzeichnis, &QLineEdit::textEdited, this,
            &TfrmMain::edtZielVerzeichnisChange);
    connect(ui->edtZielVerzeichnis, &QLineEdit::editingFinished, this,
            &TfrmMain::edtZielVerzeichnisExit);
    auto* intervals = new QButtonGroup(this);
    QRadioButton* radios[] = {ui->rbtIntervall0, ui->rbtIntervall1, ui->rbtIntervall2,
                              ui->rbtIntervall3};
    for (int i = 0; i < 4; ++i) intervals->addButton(radios[i], i);
    // Only a click of the user: showing a job sets the buttons without it.
    connect(intervals, &QButtonGroup::idClicked, this, &TfrmMain::rgpIntervallClick);
    connect(ui->cbxWochentag, &QComboBox::activated, this, &TfrmMain::cbxWochentagChange);
    // Every typed step counts at once: a time left in the picker must not be
    // lost to a save, a run or the end of the program.
    connect(ui->dtpStartZeit, &QTimeEdit::timeChanged, this, &TfrmMain::dtpStartZeitChange);
    connect(ui->dtpEndZeit, &QTimeEdit::timeChanged, this, &TfrmMain::dtpEndZeitChange);
    connect(ui->cbxLoeschen, &QCheckBox::clicked, this, &TfrmMain::cbxLoeschenClick);
    connect(ui->cbxContentOnly, &QCheckBox::clicked, this, &TfrmMain::cbxContentOnlyClick);
    // The text is too long for the options column: it wraps in a label of its own,
    // and a click on it works as one on the box.
    ui->lblSaveSpace->installEventFilter(new TClickForBox(*ui->cbxSaveSpace, this));
    ui->lblSaveSpace->setMinimumHeight(ui->lblSaveSpace->heightForWidth(
        ui->lblSaveSpace->fontMetrics().horizontalAdvance(QStringLiteral("Sicherung verknüpfen"))));
    connect(ui->cbxSaveSpace, &QCheckBox::clicked, this, [this](bool checked) {
        if (TCopyJob* job = editedJob()) job->fSaveSpace = checked;
    });
    connect(ui->edtExclude, &QLineEdit::textEdited, this, &TfrmMain::edtExcludeChange);
    connect(ui->EdtInclude, &QLineEdit::textEdited, this, &TfrmMain::EdtIncludeChange);
    connect(ui->edt_skipFolder, &QLineEdit::textEdited, this, &TfrmMain::edt_skipFolderChange);
}

void TfrmMain::connectRunControl() {
    fProtocol.setSink([this](const std::string& line) { fProtocolView->append(line); });
    fControl.setCallbacks({[this](bool running) {
                               if (running) {
                                   enterBusy();
                                   return;
                               }
                               fProtocolView->flush();
                               takeOverEditsMadeDuringRun();
                               applyView();
                               showLastBackup();
                               leaveBusy();
                           },
                           [this](const TRunView& view) { showView(view); },
                           [this](int total, int file) { showBars(total, file); }});
}

// --- Showing a job ---------------------------------------------------------

void TfrmMain::showJob() {
    TCopyJob* job = editedJob();
    if (!job) return;
    // By position: two jobs may share a name.
    const int index = fJobs->indexOf(currentJob());
    if (QListWidgetItem* row = ui->CheckListBoxJobs->item(index)) {
        setChecked(*row, job->fActive);
        ui->CheckListBoxJobs->selectRow(index);
    }
    ui->edtZielVerzeichnis->setText(qs(job->fDestination));
    fDestinationBeforeEdit = job->fDestination;
    showSources(*job);
    showStartGroup(job->fInterval);
    ui->dtpStartZeit->setTime(timeOfDay(job->fStartTime));
    ui->dtpEndZeit->setTime(timeOfDay(job->fEndTime));
    showNextRuns();
    ui->cbxLoeschen->setChecked(job->fDelete);
    ui->cbxContentOnly->setChecked(job->fContentOnly);
    ui->cbxSaveSpace->setChecked(job->fSaveSpace);
    showLastBackup();
    ui->edtExclude->setText(qs(job->fExclude));
    ui->EdtInclude->setText(qs(job->fIncludeOnly));
    ui->edtExclude->setEnabled(job->fIncludeOnly.empty());
    ui->edt_skipFolder->setText(qs(job->fSkipFolders));
}

void TfrmMain::showSources(const TCopyJob& job) {
    TListBox* list = ui->CheckListBoxSourceDirs;
    list->clear();
    for (const std::string& entry : job.fSources) {
        const std::string dir = sourceEntryDirectory(entry);
        bool listed = false;
        for (int i = 0; i < list->count() && !listed; ++i) {
            QListWidgetItem& row = *list->item(i);
            if (bytesOf(row) != dir) continue;
            setChecked(row, sourceEntryActive(entry));
            listed = true;
        }
        if (listed) continue;
        auto* row = new QListWidgetItem(qs(dir));
        row->setData(kPathRole, QByteArray::fromStdString(dir));
        setChecked(*row, sourceEntryActive(entry));
        list->addItem(row);
    }
}

void TfrmMain::showStartGroup(TJobInterval interval) {
    const QList<QAbstractButton*> radios = ui->rgpIntervall->findChildren<QAbstractButton*>();
    for (QAbstractButton* radio : radios)
        radio->setChecked(radio->objectName() == QStringLiteral("rbtIntervall%1").arg(interval));
    ui->gbxStart->setVisible(interval > kIntervalOnce);
    if (interval <= kIntervalOnce) return;
    const bool weekly = interval == kIntervalWeekly;
    const bool hourly = interval == kIntervalHourly;
    ui->cbxWochentag->setVisible(weekly);
    ui->lblStartTag->setVisible(weekly);
    if (weekly) ui->cbxWochentag->setCurrentIndex(editedJob()->fWeekday - 1);
    ui->dtpEndZeit->setVisible(hourly);
    ui->lblEndStunde->setVisible(hourly);
    ui->lblEndUhr->setVisible(hourly);
    ui->lblStartStunde->setText(hourly ? QStringLiteral("von") : QStringLiteral("um"));
}

// One row per job. The texts are replaced in place, so that the row chosen
// in the list stays selected.
void TfrmMain::showNextRuns() {
    const std::vector<std::string> rows = TScheduler::nextRunRows(*fJobs);
    const int count = static_cast<int>(rows.size());
    while (ui->lbxNext->count() > count) delete ui->lbxNext->takeItem(ui->lbxNext->count() - 1);
    while (ui->lbxNext->count() < count) ui->lbxNext->addItem(QStringLiteral(" "));
    for (int i = 0; i < count; ++i) setNextRunRow(i, rows[static_cast<size_t>(i)]);
}

void TfrmMain::setNextRunRow(int row, const std::string& text) {
    if (QListWidgetItem* item = ui->lbxNext->item(row)) item->setText(qs(text));
    markOverdue(row);
}

// The job's row and its next-run row in dark red, the row's tip saying since
// when; unticking the job takes the mark away with its next row text.
void TfrmMain::markOverdue(int row) {
    if (row < 0 || row >= fJobs->count()) return;
    const std::optional<TDateTime> since = overdueSince(fJobs->getJob(row), nowDateTime());
    const QBrush brush = since ? QBrush(QColor(0xB0, 0x00, 0x00)) : QBrush();
    const QString tip = since ? qs(overdueText(*since)) : QString();
    for (QListWidgetItem* item : {ui->CheckListBoxJobs->item(row), ui->lbxNext->item(row)}) {
        if (!item) continue;
        item->setForeground(brush);
        item->setToolTip(tip);
    }
}

void TfrmMain::connectScheduler() {
    fScheduler.setHooks(
        {[this](int row, const std::string& text) { setNextRunRow(row, text); },
         [this](TCopyJob& job) { return fControl.runJob(job, TAnswers::Unattended); },
         [this](const TCopyJob& job) { return runsElsewhere(job); }});
}

void TfrmMain::tmrIntervallTimer() {
    // A timer event handled inside a tick or a run must not start another.
    if (busy() || fScheduler.ticking()) return;
    tmrIntervall.stop();
    const TDateTime now = nowDateTime();
    ui->lblDate->setText(qs(formatGermanDate(now)));
    ui->lblTime->setText(qs(formatGermanTime(now)));
    takeBackgroundResults(now);
    fScheduler.tick(*fJobs);
    fSession.noticeOverdueJobs(nowDateTime());
    if (!busy() && !fClosed) tmrIntervall.start();
}

// Once a minute, what the timers' runs stored: the last backup shown and the
// overdue mark must not wait for the next save of a window left open for days.
void TfrmMain::takeBackgroundResults(TDateTime now) {
    const auto minute = static_cast<int64_t>(now * 1440);
    if (fTimerJobIds.empty() || minute == fResultsMinute) return;
    fResultsMinute = minute;
    bool taken = false;
    for (int i = 0; i < fJobs->count(); ++i) {
        TCopyJob& job = fJobs->getJob(i);
        if (fTimerJobIds.count(job.fJobId) > 0) taken = takeNewerRunResult(job, *fOptions) || taken;
    }
    if (taken) showLastBackup();
}

void TfrmMain::showLastBackup() {
    const TCopyJob* job = currentJob();
    if (!job) return;
    // Day 0 is no date a user has seen a backup on.
    ui->lblLastBackupzeit->setText(job->fLastBackup > 0 ? qs(formatGermanDateTime(job->fLastBackup))
                                                        : QStringLiteral("noch nie"));
}

void TfrmMain::showLog(bool show) {
    ui->pnlCenter->setVisible(!show);
    ui->MemoLog->setVisible(show);
    ui->actionShowLog->setText(show ? QStringLiteral("Einstell.") : QStringLiteral("&Protokoll"));
}

// --- Choosing a job --------------------------------------------------------

void TfrmMain::chooseJob(int row) {
    fControl.setCurrentJob(&fJobs->getJob(row));
}

void TfrmMain::CheckListBoxJobsChoose() {
    // The self-test's job is the current one until it ends.
    if (fSelfTestActive) return;
    showLog(false);
    const int row = ui->CheckListBoxJobs->selectedRow();
    // A click beside the rows selects nothing and keeps the job shown.
    if (row >= 0) chooseJob(row);
    for (int k = 0; k < fJobs->count() && k < ui->CheckListBoxJobs->count(); ++k)
        fJobs->getJob(k).fActive = ui->CheckListBoxJobs->item(k)->checkState() == Qt::Checked;
    if (fEditsDuringRun) fEditsDuringRun->fActive = fEditsFor->fActive;
    showJob();
}

void TfrmMain::lbxNextChoose() {
    if (fSelfTestActive) return;
    showLog(false);
    const int row = ui->lbxNext->selectedRow();
    if (row < 0 || row >= fJobs->count()) return;
    chooseJob(row);
    showJob();
}

// --- Edits of the current job ----------------------------------------------

namespace {

// What the settings controls edit; the run's results (last backup, schedule
// state) are not among them.
void copySettings(const TCopyJob& from, TCopyJob& to) {
    to.fJobKey = from.fJobKey;
    to.fJobName = from.fJobName;
    to.setDestination(from.fDestination);
    to.fSources = from.fSources;
    to.fInterval = from.fInterval;
    to.fStartTime = from.fStartTime;
    to.fEndTime = from.fEndTime;
    to.fWeekday = from.fWeekday;
    to.fActive = from.fActive;
    to.fExclude = from.fExclude;
    to.fIncludeOnly = from.fIncludeOnly;
    to.fSkipFolders = from.fSkipFolders;
    to.fContentOnly = from.fContentOnly;
    to.fSaveSpace = from.fSaveSpace;
    to.setDelete(from.fDelete);
    to.fTimeTolerance = from.fTimeTolerance;
}

bool sameSchedule(const TCopyJob& a, const TCopyJob& b) {
    return a.fInterval == b.fInterval && a.fStartTime == b.fStartTime && a.fEndTime == b.fEndTime &&
           a.fWeekday == b.fWeekday;
}

}  // namespace

// A run works on its job as it was when it started: while the shown job
// runs, its controls edit a copy, which the job takes over when the run ends.
TCopyJob* TfrmMain::editedJob() {
    TCopyJob* job = currentJob();
    if (!job || job != fControl.runningJob()) return job;
    if (!fEditsDuringRun) {
        fEditsDuringRun = std::make_unique<TCopyJob>();
        copySettings(*job, *fEditsDuringRun);
        fEditsFor = job;
    }
    return fEditsDuringRun.get();
}

void TfrmMain::takeOverEditsMadeDuringRun() {
    if (!fEditsDuringRun) return;
    const std::unique_ptr<TCopyJob> edits = std::move(fEditsDuringRun);
    TCopyJob& job = *std::exchange(fEditsFor, nullptr);
    const bool rescheduled = !sameSchedule(*edits, job);
    copySettings(*edits, job);
    if (rescheduled) job.updateSchedule();
    showJob();
}

void TfrmMain::storeSourceRows() {
    TCopyJob* job = editedJob();
    if (!job) return;
    std::vector<std::string> sources;
    for (int i = 0; i < ui->CheckListBoxSourceDirs->count(); ++i) {
        const QListWidgetItem& row = *ui->CheckListBoxSourceDirs->item(i);
        sources.push_back(makeSourceEntry(bytesOf(row), row.checkState() == Qt::Checked));
    }
    job->fSources = std::move(sources);
}

void TfrmMain::CheckListBoxSourceDirsMouseUp() {
    storeSourceRows();
}

void TfrmMain::CheckListBoxSourceDirsKeyDown(int key) {
    if (key == kDeleteKey) actionDeleteSourceDirExecute();
}

// The stored record keeps its sources in row order, so the rows that remain
// are written back rather than one value dropped by its index.
void TfrmMain::actionDeleteSourceDirExecute() {
    TCopyJob* job = editedJob();
    const int row = ui->CheckListBoxSourceDirs->selectedRow();
    if (!job || row < 0) return;
    delete ui->CheckListBoxSourceDirs->takeItem(row);
    // The next row is not chosen for the user: one press, one source.
    ui->CheckListBoxSourceDirs->clearSelection();
    storeSourceRows();
    saveSourcesToStorage(*job, *fOptions);
}

void TfrmMain::btnDirSourceClick() {
    TCopyJob* job = editedJob();
    if (!job) return;
    const std::string dir = chooseFolder(this, "Quellverzeichnis", fOptions->LastSrcDir);
    if (dir.empty()) return;
    fOptions->LastSrcDir = dir;
    bool listed = false;
    for (int i = 0; i < ui->CheckListBoxSourceDirs->count(); ++i)
        listed = listed || bytesOf(*ui->CheckListBoxSourceDirs->item(i)) == dir;
    if (!listed) job->fSources.push_back(makeSourceEntry(dir, true));
    showJob();
}

void TfrmMain::btnDirDestClick() {
    TCopyJob* job = editedJob();
    if (!job) return;
    const std::string dir = chooseFolder(this, "Zielverzeichnis", job->fDestination);
    if (dir.empty()) return;
    ui->edtZielVerzeichnis->setText(qs(dir));
    job->setDestination(dir);
    fDestinationBeforeEdit = job->fDestination;
}

// The job follows every change it may take ("~" is the home folder); a text
// it may not take leaves it with the destination it had before the edit.
// The closing "/" is added only once the user leaves the field, so that it
// does not land between typed letters.
void TfrmMain::edtZielVerzeichnisChange(const QString& text) {
    TCopyJob* job = editedJob();
    if (!job || text.isEmpty()) return;
    const std::string typed = expandedDestination(text.toStdString());
    job->setDestination(destinationInputError(typed).empty() ? typed : fDestinationBeforeEdit);
}

// Left with a text the job may not take, the field shows the old destination
// again and says why.
void TfrmMain::edtZielVerzeichnisExit() {
    const QString text = ui->edtZielVerzeichnis->text();
    TCopyJob* job = editedJob();
    if (!job || text.isEmpty()) return;
    const std::string typed = expandedDestination(text.toStdString());
    if (const std::string error = destinationInputError(typed); !error.empty()) {
        job->setDestination(fDestinationBeforeEdit);
        ui->edtZielVerzeichnis->setText(qs(fDestinationBeforeEdit));
        userInterface().showMessage(TMsgKind::Warning, error, mbOK, TMsgResult::OK);
        return;
    }
    ui->edtZielVerzeichnis->setText(qs(includeTrailingDelimiter(typed)));
    edtZielVerzeichnisChange(ui->edtZielVerzeichnis->text());
    fDestinationBeforeEdit = job->fDestination;
}

void TfrmMain::rgpIntervallClick(int index) {
    TCopyJob* job = editedJob();
    if (!job) return;
    job->setInterval(static_cast<TJobInterval>(index));
    job->fActive = index > 0;
    showJob();
}

// Weekday, start and end time move the next run at once, so that the
// next-run list never shows a schedule the job no longer has.
void TfrmMain::cbxWochentagChange(int index) {
    TCopyJob* job = editedJob();
    if (!job) return;
    job->fWeekday = index + 1;
    job->updateSchedule();
    showJob();
}

// Also called when showing a job sets the picker: only a changed time counts.
void TfrmMain::dtpStartZeitChange(const QTime& time) {
    TCopyJob* job = editedJob();
    if (!job || timeOfDay(job->fStartTime) == time) return;
    job->setStartTime(withTimeOfDay(job->fStartTime, time));
    showNextRuns();
}

void TfrmMain::dtpEndZeitChange(const QTime& time) {
    TCopyJob* job = editedJob();
    if (!job || timeOfDay(job->fEndTime) == time) return;
    job->fEndTime = withTimeOfDay(job->fEndTime, time);
    job->updateSchedule();
    showNextRuns();
}

void TfrmMain::cbxLoeschenClick(bool checked) {
    if (TCopyJob* job = editedJob()) job->setDelete(checked);
}

void TfrmMain::cbxContentOnlyClick(bool checked) {
    if (TCopyJob* job = editedJob()) job->fContentOnly = checked;
}

void TfrmMain::edtExcludeChange(const QString& text) {
    if (TCopyJob* job = editedJob()) job->fExclude = toLowerCase(text.toStdString());
}

void TfrmMain::EdtIncludeChange(const QString& text) {
    ui->edtExclude->setEnabled(text.isEmpty());
    if (TCopyJob* job = editedJob()) job->fIncludeOnly = toLowerCase(text.toStdString());
}

void TfrmMain::edt_skipFolderChange(const QString& text) {
    if (TCopyJob* job = editedJob()) job->fSkipFolders = toLowerCase(text.toStdString());
}

// --- Runs ------------------------------------------------------------------

bool TfrmMain::runJob() {
    return fControl.runJob();
}

void TfrmMain::actionBackupExecute() {
    runJob();
}

void TfrmMain::actionPreviewExecute() {
    fControl.runPreview();
}

// Busy while the dialog is open: no scheduled run may start on the
// destination the restore reads, and its lines stand in the protocol.
void TfrmMain::actionRestoreExecute() {
    TCopyJob* job = currentJob();
    if (!job || busy()) return;
    TfrmRestore dialog(fSession, *job, this);
    enterBusy();
    dialog.exec();
    leaveBusy();
}

void TfrmMain::actionCancelJobExecute() {
    fControl.cancel();
}

void TfrmMain::enterBusy() {
    if (fBusyDepth++ == 0) lockActions(true);
    showLog(true);
}

void TfrmMain::leaveBusy() {
    if (fBusyDepth == 0 || --fBusyDepth > 0) return;
    lockActions(false);
    if (fCloseWhenIdle) finishClose();
}

// The commands on the current job mean nothing while no job exists (a first
// start without settings).
void TfrmMain::lockActions(bool locked) {
    const bool jobThere = fJobs && fJobs->count() > 0;
    ui->actionBackup->setEnabled(!locked && jobThere);
    ui->actionPreview->setEnabled(!locked && jobThere);
    ui->actionRestore->setEnabled(!locked && jobThere);
    ui->actionCancelJob->setEnabled(locked);
    ui->actionNewJob->setEnabled(!locked);
    ui->actionImport->setEnabled(!locked);
    ui->actionDeleteJob->setEnabled(!locked && jobThere);
    ui->actionRenameJob->setEnabled(!locked && jobThere);
    ui->actionDeleteSourceDir->setEnabled(jobThere);
    // A self-test nested in a run would find the run control taken.
    ui->actionSelfTest->setEnabled(!locked);
    if (locked) {
        tmrIntervall.stop();
    } else if (!fScheduler.ticking()) {
        // A run the tick started: the tick switches the timer on when it ends.
        tmrIntervall.start();
    }
}

// A run sends its view with every file; the widgets take the latest one
// every 50 ms and at the end of the run, so that drawing never holds it up.
void TfrmMain::showView(const TRunView& view) {
    fShownView = view;
    if (!fViewTimer.isActive()) fViewTimer.start();
}

void TfrmMain::showBars(int total, int file) {
    fShownView.totalPercent = total;
    fShownView.filePercent = file;
    if (!fViewTimer.isActive()) fViewTimer.start();
}

void TfrmMain::applyView() {
    fViewTimer.stop();
    const TRunView& view = fShownView;
    ui->lblVerlauf->setText(qs(view.progressText.empty() ? "Verlauf" : view.progressText));
    ui->lblKopieren->setText(qs(view.copyText.empty() ? "Ergebnis" : view.copyText));
    if (!view.sourceCountText.empty()) ui->lblFileCountSource->setText(qs(view.sourceCountText));
    if (!view.destCountText.empty()) ui->lblFileCountDest->setText(qs(view.destCountText));
    ui->ProgBarGesamt->setValue(view.totalPercent);
    ui->ProgBarDatei->setValue(view.filePercent);
}

void TfrmMain::actionShowLogExecute() {
    showLog(ui->MemoLog->isHidden());
}

void TfrmMain::actionHistoryExecute() {
    showHistory();
}

void TfrmMain::showHistory(const std::string& file) {
    if (!fHistory) {
        const TCopyJob* job = currentJob();
        fHistory = new TfrmHistory(fSession.historyFolder(), job ? job->fJobKey : "", this);
        fHistory->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        fHistory->refresh();
    }
    if (!file.empty()) fHistory->showRun(file);
    fHistory->show();
    fHistory->raise();
    fHistory->activateWindow();
}

void TfrmMain::actionSaveLogExecute() {
    if (fExeDirWritable) fSession.saveProtocol();
}

// --- Job and settings commands -----------------------------------------------

// The window steps aside while the wizard is up and comes back however it
// ends; a job the user gave up on goes.
void TfrmMain::actionNewJobExecute() {
    if (busy()) return;
    TCopyJob* remembered = currentJob();
    auto job = std::make_unique<TCopyJob>();
    job->fJobName = fJobs->freeJobName();
    fWizzard->fJob = job.get();
    hide();
    const auto showAgain = qScopeGuard([this] { show(); });
    const bool finished = fWizzard->exec() == QDialog::Accepted;
    fWizzard->fJob = nullptr;
    if (!finished) {
        fControl.setCurrentJob(remembered);
        return;
    }
    TCopyJob& added = fJobs->add(std::move(job));
    fControl.setCurrentJob(&added);
    fSession.hookJob(added);
    showLog(false);
    new QListWidgetItem(qs(added.fJobName), ui->CheckListBoxJobs);
    ui->CheckListBoxJobs->selectRow(ui->CheckListBoxJobs->count() - 1);
    showJob();
    lockActions(false);
}

void TfrmMain::actionRenameJobExecute() {
    TCopyJob* job = currentJob();
    if (!job || busy()) return;
    showLog(false);
    TfrmRename dialog(this);
    dialog.newName = job->fJobName;
    dialog.nameTaken = [this, job](const std::string& name) { return fJobs->nameTaken(name, job); };
    dialog.exec();
    if (dialog.newName.empty()) return;
    job->fJobName = dialog.newName;
    if (QListWidgetItem* row = ui->CheckListBoxJobs->item(fJobs->indexOf(job)))
        row->setText(qs(job->fJobName));
}

void TfrmMain::actionDeleteJobExecute() {
    if (busy()) return;
    showLog(false);
    int row = ui->CheckListBoxJobs->selectedRow();
    if (fJobs->count() < 2) {
        userInterface().showMessage(TMsgKind::Warning, kOnlyJobWarning, mbOK, TMsgResult::OK);
        return;
    }
    const int index = fJobs->indexOf(currentJob());
    if (index < 0 || !confirmDeletion(*currentJob())) return;
    TCopyJob* shown = currentJob();
    fControl.setCurrentJob(nullptr);
    // A rest that cannot be stored keeps the job, in the list and in storage.
    if (!fJobs->deleteJob(index)) {
        fControl.setCurrentJob(shown);
        showSaveError();
        return;
    }
    syncBackgroundUnits();
    delete ui->CheckListBoxJobs->takeItem(index);
    row = std::clamp(row, 0, fJobs->count() - 1);
    chooseJob(row);
    ui->CheckListBoxJobs->selectRow(row);
    showJob();
}

bool TfrmMain::confirmDeletion(const TCopyJob& job) {
    return userInterface().showMessage(
               TMsgKind::Confirmation,
               "Soll der Backup-Job \"" + job.fJobName + "\" wirklich gelöscht werden?",
               mbYes | mbNo, TMsgResult::No) == TMsgResult::Yes;
}

void TfrmMain::CheckListBoxJobsKeyDown(int key) {
    if (key != kDeleteKey || busy()) return;
    const int row = ui->CheckListBoxJobs->selectedRow();
    if (row < 0) return;
    if (fJobs->count() < 2) {
        userInterface().showMessage(TMsgKind::Warning, kOnlyJobWarning, mbOK, TMsgResult::OK);
        return;
    }
    if (confirmDeletion(fJobs->getJob(row))) deleteJobRow(row);
}

// Only the record of the deleted job goes; the others keep their keys until
// the next save.
void TfrmMain::deleteJobRow(int row) {
    TCopyJob* shown = currentJob();
    const bool wasShown = shown == &fJobs->getJob(row);
    if (wasShown) fControl.setCurrentJob(nullptr);
    if (!fJobs->eraseJob(row)) {
        fControl.setCurrentJob(shown);
        showSaveError();
        return;
    }
    syncBackgroundUnits();
    delete ui->CheckListBoxJobs->takeItem(row);
    const int next = row > 0 ? row - 1 : 0;
    ui->CheckListBoxJobs->selectRow(next);
    chooseJob(next);
    showJob();
}

bool TfrmMain::saveSettings() {
    fJobs->fCurrentJob = ui->CheckListBoxJobs->selectedRow() + 1;
    fOptions->WinMainTop = y();
    fOptions->WinMainLeft = x();
    fOptions->WinMainHeight = height();
    fOptions->WinMainWidth = width();
    // The units name their jobs by identifier: written with the records.
    if (fOptions->Background) giveMissingJobIds(*fJobs);
    if (!fJobs->saveJobsAndOptions()) return false;
    // The save took what runs of the timers stored meanwhile.
    showLastBackup();
    syncBackgroundUnits();
    return true;
}

void TfrmMain::syncBackgroundUnits() {
    const std::string folder = userUnitFolder();
    const TTimerSync sync = syncTimers(fSession, folder, ownProgramPath(), TTellManager::OnChange);
    fTimerJobIds = jobIdsWithTimers(fSession, folder);
    std::string problem = sync.error;
    if (!sync.managerReached) problem += (problem.empty() ? "" : "\r\n") + kManagerUnreachable;
    // Nobody is left to read it at the end of the session.
    if (!problem.empty() && !fSessionEnding)
        userInterface().showMessage(TMsgKind::Warning, problem, mbOK, TMsgResult::OK);
}

// Without an answering manager the window keeps starting the jobs itself, so
// that a stored option never costs a run.
void TfrmMain::showBackgroundOption() {
    ui->actionBackground->setChecked(fOptions->Background);
    fBackgroundRuns = fOptions->Background && userManagerReachable();
    fTimerJobIds =
        fBackgroundRuns ? jobIdsWithTimers(fSession, userUnitFolder()) : std::set<std::string>();
}

bool TfrmMain::runsElsewhere(const TCopyJob& job) const {
    return fBackgroundRuns && fOptions->Background && job.fActive &&
           fTimerJobIds.count(job.fJobId) > 0;
}

void TfrmMain::actionBackgroundExecute(bool checked) {
    if (checked && !userManagerReachable()) {
        ui->actionBackground->setChecked(false);
        userInterface().showMessage(TMsgKind::Warning,
                                    cronAdvice(fSession, currentJob(), ownProgramPath()), mbOK,
                                    TMsgResult::OK);
        return;
    }
    fOptions->Background = checked;
    fBackgroundRuns = checked;
    if (fExeDirWritable && !saveSettings()) showSaveError();
}

std::string TfrmMain::saveErrorText() const {
    return fJobs->fSaveError.empty() ? "Die Einstellungen konnten nicht gespeichert werden."
                                     : fJobs->fSaveError;
}

void TfrmMain::showSaveError() {
    userInterface().showMessage(TMsgKind::Error, saveErrorText(), mbOK, TMsgResult::OK);
}

void TfrmMain::actionSaveOptionsExecute() {
    if (fExeDirWritable && !saveSettings()) showSaveError();
}

void TfrmMain::actionExportExecute() {
    if (fOptions->exportOptions() && fJobs->exportJobs()) return;
    std::string text = "Die Einstellungen können nicht nach \"" + fOptions->fExportFileName +
                       "\" exportiert werden.";
    if (!fJobs->fSaveError.empty()) text += "\r\n" + fJobs->fSaveError;
    userInterface().showMessage(TMsgKind::Error, text, mbOK, TMsgResult::OK);
}

// A file that is missing or cannot be read changes nothing; otherwise the
// window shows the jobs as imported, the first one current.
void TfrmMain::actionImportExecute() {
    if (busy()) return;
    if (const std::string refusal = fJobs->importRefusal(); !refusal.empty()) {
        userInterface().showMessage(TMsgKind::Error, refusal, mbOK, TMsgResult::OK);
        return;
    }
    fOptions->importOptions();
    const TImportResult result = fJobs->importJobs();
    showBackgroundOption();
    if (fJobs->count() > 0) {
        fJobs->fCurrentJob = 0;
        fillJobRows();
        fControl.setCurrentJob(&fJobs->getJob(0));
        ui->CheckListBoxJobs->selectRow(0);
        showLog(false);
        showJob();
        lockActions(false);
    }
    userInterface().showMessage(TMsgKind::Information, importReport(result), mbOK, TMsgResult::OK);
}

std::string TfrmMain::importReport(const TImportResult& result) {
    std::string text = result.imported == 1 ? "Es wurde 1 Backup-Job importiert"
                                            : "Es wurden " + std::to_string(result.imported) +
                                                  " Backup-Jobs importiert";
    if (result.appended > 0) text += ", davon " + std::to_string(result.appended) + " neu";
    return text + ".";
}

void TfrmMain::actionShowInfoExecute() {
    TfrmQV_Info info(this);
    info.exec();
}

void TfrmMain::mnuHelpClick() {
    showHelp(this);
}

void TfrmMain::actionSelfTestExecute() {
    if (busy()) return;
    TCopyJob* previous = currentJob();
    fSelfTestActive = true;
    enterBusy();
    ui->pnlCenter->setEnabled(false);
    fSession.runSelfTest(fSelfTestRoots);
    fProtocolView->flush();
    ui->pnlCenter->setEnabled(true);
    fControl.setCurrentJob(previous);
    fSelfTestActive = false;
    leaveBusy();
    showJob();
}

// The window was closed while busy and has saved then; what the run changed
// since (its last backup time, the end of its protocol) is saved now.
void TfrmMain::finishClose() {
    fCloseWhenIdle = false;
    if (fExeDirWritable) saveSettings();
    saveLogOnClose();
    fClosed = true;
    close();
    QCoreApplication::quit();
}

void TfrmMain::actionCloseExecute() {
    close();
}

// --- Closing ---------------------------------------------------------------

bool TfrmMain::saveSettingsOrAsk() {
    if (!fExeDirWritable || saveSettings()) return true;
    // Nobody is left to answer at the end of the session.
    if (fSessionEnding) return true;
    const std::string question = saveErrorText() + "\r\n\r\nOhne Speichern beenden?";
    return userInterface().showMessage(TMsgKind::Confirmation, question, mbYes | mbNo,
                                       TMsgResult::No) == TMsgResult::Yes;
}

void TfrmMain::saveLogOnClose() {
    if (fExeDirWritable && fSession.protocolWanted()) fSession.saveProtocol();
}

// A close while a run or the self-test is active saves at once; the window
// stays up, showing the run, until the run ends, saves what it changed and
// then closes the window for good. No scheduled job starts after the close.
void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!fStarted || fClosed) {
        event->accept();
        return;
    }
    if (!saveSettingsOrAsk()) {
        event->ignore();
        return;
    }
    fScheduler.halt();
    saveLogOnClose();
    if (busy()) {
        fCloseWhenIdle = true;
        showLog(true);
        event->ignore();
        return;
    }
    fClosed = true;
    tmrIntervall.stop();
    event->accept();
}

// The session ends (logout, SIGTERM, SIGHUP): a run is cancelled rather than
// waited for, then the window saves and closes as on a close by the user.
void TfrmMain::endSession() {
    fSessionEnding = true;
    if (fControl.running()) fControl.cancel();
    close();
}

}  // namespace qvb
