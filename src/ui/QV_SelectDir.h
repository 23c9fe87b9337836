#pragma once

// Chooses a folder: first a file-system root, then a folder below it.

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "ui/FileSystemRoots.h"

class QStandardItem;
class QStandardItemModel;

namespace Ui {
class TfrmSelectDir;
}

namespace qvb {

class TfrmSelectDir : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmSelectDir(QWidget* parent = nullptr);
    ~TfrmSelectDir() override;

    // The root to show when `startDir` does not exist; after the dialog was
    // shown, the root that `startDir` lies on.
    std::string driveLetter = "/";
    // The folder to open when it exists.
    std::string startDir = "/";
    // Out: the open folder's full path (bytes, no trailing "/" but for the
    // root itself), or empty when the user cancelled.
    std::string selectedDir;

    void accept() override;
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void fillRoots();
    void openRoot(const std::string& root);
    void rootChosen(int index);
    void showHiddenChanged(bool show);
    void openFolder(const std::string& path);
    void listFolders(QStandardItem& parent);
    std::string currentFolder() const;

    std::unique_ptr<Ui::TfrmSelectDir> ui;
    // Folders as bytes: a name that is not valid UTF-8 is shown with
    // replacement characters and chosen as it is on disk.
    QStandardItemModel* fModel;
    std::vector<TFileSystemRoot> fRoots;
    std::string fRoot = "/";
};

// Shows the folder dialog titled `caption`, opened at `startDir` when that is a
// folder: the folder chosen, with a trailing "/", or empty when cancelled.
std::string chooseFolder(QWidget* parent, const char* caption, const std::string& startDir);

}  // namespace qvb
