#pragma once

// The program's only top-level window: it shows and edits one job of its
// session at a time, and drives runs, the self-test and the settings commands
// through the session's run control.

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <set>
#include <string>

#include "jobs/Schedule.h"
#include "runcontrol/Scheduler.h"
#include "session/Session.h"

class QAction;
class QTime;
class QPushButton;

namespace Ui {
class TfrmMain;
}

namespace qvb {

class TCopyJob;
class TCopyJobList;
struct TImportResult;
class TfrmHistory;
class TfrmWizzard;
class TProtocolView;
class TQV_BackupOptions;

class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    // Runs the start-up: options, geometry, jobs, the writability test of
    // the data folder and the scheduler timer.
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // False when the options or the job list could not be made; the program
    // then ends (the error box has been shown).
    bool started() const { return fStarted; }

    TCopyJob* currentJob() const { return fControl.currentJob(); }
    TSession& session() { return fSession; }
    TCopyJobList& jobs() { return *fJobs; }
    TQV_BackupOptions& options() { return *fOptions; }
    TProtocol& protocol() { return fProtocol; }
    bool exeDirWritable() const { return fExeDirWritable; }
    // A run or the self-test is active: the job list cannot change.
    bool busy() const { return fBusyDepth > 0; }

    void showJob();
    void showLog(bool show);
    // Runs the current job; true when it finished.
    bool runJob();
    // Where the self-test builds its folders.
    void setSelfTestRoots(TSelfTestRoots roots) { fSelfTestRoots = std::move(roots); }

    // The scheduler's tick: the clock labels, then every job's row, and the
    // due jobs run.
    void tmrIntervallTimer();

    // Switches the option "Hintergrund": on only where the user's service
    // manager answers; the settings are saved, and the units follow them.
    void actionBackgroundExecute(bool checked);
    void actionBackupExecute();
    void actionPreviewExecute();
    void actionRestoreExecute();
    void actionCancelJobExecute();
    void actionCloseExecute();
    void actionDeleteJobExecute();
    void actionDeleteSourceDirExecute();
    void actionExportExecute();
    void actionImportExecute();
    void actionNewJobExecute();
    void actionRenameJobExecute();
    void actionSaveLogExecute();
    void actionSaveOptionsExecute();
    void actionSelfTestExecute();
    void actionShowInfoExecute();
    void actionShowLogExecute();
    void actionHistoryExecute();
    // Shows "Frühere Protokolle" (brought forward when it is open) with the
    // run kept in `file` chosen; empty: the newest run.
    void showHistory(const std::string& file = {});
    void mnuHelpClick();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void offerWizard();
    void endSession();
    void placeWindow();
    void centreOnPrimaryScreen();
    void fillJobRows();
    void connectActions();
    void connectButton(QPushButton* button, QAction* action, bool ownCaption);
    void connectEdits();
    void connectRunControl();

    void chooseJob(int row);
    void CheckListBoxJobsChoose();
    void CheckListBoxJobsKeyDown(int key);
    void lbxNextChoose();
    void CheckListBoxSourceDirsMouseUp();
    void CheckListBoxSourceDirsKeyDown(int key);
    void btnDirSourceClick();
    void btnDirDestClick();
    void edtZielVerzeichnisChange(const QString& text);
    void edtZielVerzeichnisExit();
    void rgpIntervallClick(int index);
    void cbxWochentagChange(int index);
    void dtpStartZeitChange(const QTime& time);
    void dtpEndZeitChange(const QTime& time);
    void cbxLoeschenClick(bool checked);
    void cbxContentOnlyClick(bool checked);
    void edtExcludeChange(const QString& text);
    void EdtIncludeChange(const QString& text);
    void edt_skipFolderChange(const QString& text);

    TCopyJob* editedJob();
    void takeOverEditsMadeDuringRun();
    void showStartGroup(TJobInterval interval);
    void showSources(const TCopyJob& job);
    void showNextRuns();
    void setNextRunRow(int row, const std::string& text);
    void markOverdue(int row);
    void connectScheduler();
    void showLastBackup();
    void storeSourceRows();
    void deleteJobRow(int row);
    bool confirmDeletion(const TCopyJob& job);
    static std::string importReport(const TImportResult& result);

    void enterBusy();
    void leaveBusy();
    void lockActions(bool locked);
    void showView(const TRunView& view);
    void showBars(int total, int file);
    void applyView();

    bool saveSettings();
    // The units of the background runs follow what was just stored.
    void syncBackgroundUnits();
    void showBackgroundOption();
    bool runsElsewhere(const TCopyJob& job) const;
    void takeBackgroundResults(TDateTime now);
    std::string saveErrorText() const;
    void showSaveError();
    bool saveSettingsOrAsk();
    void saveLogOnClose();
    void finishClose();

    std::unique_ptr<Ui::TfrmMain> ui;
    TSession fSession;
    // The session's, once it is open.
    TQV_BackupOptions* fOptions = nullptr;
    TCopyJobList* fJobs = nullptr;
    TProtocol& fProtocol = fSession.protocol();
    TRunControl& fControl = fSession.control();
    TProtocolView* fProtocolView;
    // Made once the options exist, and reused for every new job.
    TfrmWizzard* fWizzard = nullptr;
    // Open beside the window while the user reads in it.
    QPointer<TfrmHistory> fHistory;
    QTimer tmrIntervall;
    TScheduler fScheduler;
    QTimer tmrRefresh;
    QTimer fViewTimer;
    TRunView fShownView;
    // The settings edited while their job runs, and that job.
    std::unique_ptr<TCopyJob> fEditsDuringRun;
    TCopyJob* fEditsFor = nullptr;
    TSelfTestRoots fSelfTestRoots;
    bool fStarted = false;
    bool fExeDirWritable = false;
    int fBusyDepth = 0;
    bool fSelfTestActive = false;
    // The window was closed while busy: the program ends once that is over.
    bool fCloseWhenIdle = false;
    bool fClosed = false;
    // The destination the job had before the field was edited: kept when
    // the field is left with one the job may not take.
    std::string fDestinationBeforeEdit;
    // No question can be answered any more: the session is ending.
    bool fSessionEnding = false;
    // The option "Hintergrund" is on and the user's service manager answered.
    bool fBackgroundRuns = false;
    // The jobs whose timers lie in the unit folder: the manager starts them.
    std::set<std::string> fTimerJobIds;
    // The minute the stored results of their runs were last looked at.
    int64_t fResultsMinute = -1;
};

}  // namespace qvb
