#pragma once

// The protocols of earlier runs of one settings file: the kept runs, newest
// first, with their verdicts, and the protocol of the chosen one as the
// window shows its own.

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "session/ProtocolHistory.h"

namespace Ui {
class TfrmHistory;
}

namespace qvb {

class TProtocolView;

class TfrmHistory : public QDialog {
    Q_OBJECT

  public:
    // `folder`: where the settings keep their runs; `currentJobKey`: the
    // job the filter "Nur der aktuelle Job" keeps.
    TfrmHistory(const std::string& folder, const std::string& currentJobKey,
                QWidget* parent = nullptr);
    ~TfrmHistory() override;

    // Reads the folder again; the chosen run stays chosen while it is kept.
    void refresh();
    // Chooses the run kept in `file`, showing all jobs where it is another
    // job's; a file that is not among the kept runs is not opened, the
    // viewer says why.
    void showRun(const std::string& file);
    std::string chosenFile() const;

  private:
    void fill(const std::string& choose);
    void runChosen();
    void openFolder();

    std::unique_ptr<Ui::TfrmHistory> ui;
    std::string fFolder;
    std::string fCurrentJobKey;
    // Newest first.
    std::vector<THistoryEntry> fEntries;
    TProtocolView* fView;
};

}  // namespace qvb
