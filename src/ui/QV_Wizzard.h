#pragma once

// Defines a new backup job in five steps: name, sources, destination,
// interval with the delete and content options, and for automatic jobs the
// start date and times. Made once and reused for every new job.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

class QButtonGroup;

namespace Ui {
class TfrmWizzard;
}

namespace qvb {

class TCopyJob;
class TQV_BackupOptions;

class TfrmWizzard : public QDialog {
    Q_OBJECT

  public:
    // The last source and destination folders chosen are kept in `options`.
    explicit TfrmWizzard(TQV_BackupOptions& options, QWidget* parent = nullptr);
    ~TfrmWizzard() override;

    // In: the new job (not owned); the wizard fills its fields. exec() gives
    // Accepted once the job is complete, Rejected when the user gave up.
    TCopyJob* fJob = nullptr;
    // Whether a job of the list has the name: the name step refuses it.
    std::function<bool(const std::string&)> nameTaken;
    // The step shown, 1 to 5.
    int step() const { return fStep; }

    void btnNextClick();
    void btnPrevClick();
    // Escape cancels like "Abbrechen", asking once steps were filled.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormShow();
    void cancelAsking();
    void RadioGroup1Click(int index);
    void btnDirSourceClick();
    void btnDirDestClick();
    void WizzardCheckListBoxSourceDirsKeyDown();

    void showStep();
    bool takeName();
    bool takeSources();
    bool takeDestination();
    bool takeOptions();
    void finish();
    bool sourceInDestination();
    void warnDestinationInSource();
    bool isKeyPressOf(QObject* watched, QEvent* event, int key) const;

    std::unique_ptr<Ui::TfrmWizzard> ui;
    TQV_BackupOptions& fOptions;
    QButtonGroup* fIntervals;
    int fStep = 1;
};

}  // namespace qvb
