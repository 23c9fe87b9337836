#pragma once

// Brings files back from the versions of one job: the versions on one side,
// the chosen version's tree on the other (filled as folders are opened), the
// versions of one file, and the restore to the original place or a folder.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Restore.h"
#include "jobs/Versions.h"

class QTreeWidgetItem;

namespace Ui {
class TfrmRestore;
}

namespace qvb {

class TCopyJob;
class TSession;

// The question about a differing file in the way, with its answer for the
// files after it when `forAll` comes back true.
using TConflictQuestion =
    std::function<TConflictAnswer(QWidget* parent, const std::string& to, bool& forAll)>;
TConflictAnswer askAboutConflict(QWidget* parent, const std::string& to, bool& forAll);

class TfrmRestore : public QDialog {
    Q_OBJECT

  public:
    TfrmRestore(TSession& session, TCopyJob& job, QWidget* parent = nullptr);
    ~TfrmRestore() override;

    // Replaced by tests; the box with "Ersetzen", "Überspringen", "Beide behalten".
    TConflictQuestion askConflict = askAboutConflict;
    // Replaced by tests; the folder dialog.
    std::function<std::string(QWidget* parent, const std::string& start)> chooseTarget;

    void reject() override;

    // The buttons' work, for tests as for the user.
    void restoreSelected();
    void showFileVersions();
    void chooseTargetDir();

  private:
    void fillVersions();
    void versionChosen(int row);
    void fillFolder(QTreeWidgetItem& item);
    void itemExpanded(QTreeWidgetItem* item);
    void applyFilter();
    bool filterHides(const QTreeWidgetItem& item) const;
    void setRunning(bool running);
    void showNewProtocolLines();
    // The items chosen in the tree as restore items; empty with a German
    // reason in `error` when there is nothing (or no place) to restore to.
    std::vector<TRestoreItem> chosenItems(std::string& error);

    std::unique_ptr<Ui::TfrmRestore> ui;
    TSession& fSession;
    TCopyJob& fJob;
    std::vector<TVersion> fVersions;
    std::vector<TVersionRoot> fRoots;
    size_t fShownLines = 0;
    bool fRunning = false;
};

}  // namespace qvb
