#include "ui/QV_SelectDir.h"

#include <dirent.h>

#include <QFile>
#include <QStandardItemModel>
#include <algorithm>

#include "ui/WindowFlags.h"
#include "ui_QV_SelectDir.h"
#include "util/QV_Basics.h"
#include "util/Sys.h"

namespace qvb {

namespace {

// Where an item keeps its folder's full path as bytes, and whether its
// subfolders were listed.
constexpr int kPathRole = Qt::UserRole;
constexpr int kListedRole = Qt::UserRole + 1;

// File names are bytes; Qt's strings hold them in the local (UTF-8) encoding.
QString toPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string pathOf(const QStandardItem& item) {
    return item.data(kPathRole).toByteArray().toStdString();
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// The folders directly in `folder` (links to folders too), sorted as a user
// reads them.
std::vector<std::string> subfolders(const std::string& folder, bool hidden) {
    std::vector<std::string> names;
    sys::DirStream dir(sys::opendir(folder.c_str()));
    if (!dir.get()) return names;
    while (const dirent* entry = sys::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || (!hidden && name.starts_with('.'))) continue;
        if (isDirectory(childPath(folder, name))) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return toPath(a).compare(toPath(b), Qt::CaseInsensitive) < 0;
    });
    return names;
}

QStandardItem* folderItem(const std::string& path, const std::string& name) {
    auto* item = new QStandardItem(toPath(name));
    item->setEditable(false);
    item->setData(QByteArray::fromStdString(path), kPathRole);
    // Shows the arrow until the folder is opened and found empty.
    item->appendRow(new QStandardItem());
    return item;
}

}  // namespace

TfrmSelectDir::TfrmSelectDir(QWidget* parent)
    : QDialog(parent), ui(new Ui::TfrmSelectDir), fModel(new QStandardItemModel(this)) {
    ui->setupUi(this);
    setWindowFlags(kToolDialogFlags);
    ui->DirectoryListBox->setModel(fModel);
    ui->DirectoryListBox->setHeaderHidden(true);
    connect(ui->DriveComboBox, &QComboBox::activated, this, &TfrmSelectDir::rootChosen);
    connect(ui->DirectoryListBox, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (QStandardItem* item = fModel->itemFromIndex(index)) listFolders(*item);
    });
    connect(ui->cbxHidden, &QCheckBox::toggled, this, &TfrmSelectDir::showHiddenChanged);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmSelectDir::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmSelectDir::reject);
}

TfrmSelectDir::~TfrmSelectDir() = default;

void TfrmSelectDir::fillRoots() {
    fRoots = systemFileSystemRoots();
    ui->DriveComboBox->clear();
    for (const TFileSystemRoot& root : fRoots)
        ui->DriveComboBox->addItem(QString::fromStdString(displayText(root)));
}

void TfrmSelectDir::showEvent(QShowEvent* event) {
    fillRoots();
    const bool startExists = isDirectory(startDir);
    if (startExists) driveLetter = rootOf(startDir, fRoots);
    openRoot(driveLetter);
    if (startExists && startDir != fRoot) openFolder(startDir);
    QDialog::showEvent(event);
}

void TfrmSelectDir::listFolders(QStandardItem& parent) {
    if (parent.data(kListedRole).toBool()) return;
    parent.setData(true, kListedRole);
    parent.removeRows(0, parent.rowCount());
    const std::string folder = pathOf(parent);
    for (const std::string& name : subfolders(folder, ui->cbxHidden->isChecked()))
        parent.appendRow(folderItem(childPath(folder, name), name));
}

// Opens the folders from the root down to `path`, as far as they exist.
void TfrmSelectDir::openFolder(const std::string& path) {
    QStandardItem* item = fModel->item(0);
    const std::string below = path.substr(std::min(path.size(), fRoot.size()));
    size_t start = 0;
    while (item && start < below.size()) {
        const size_t end = std::min(below.find('/', start), below.size());
        const std::string name = below.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        listFolders(*item);
        QStandardItem* found = nullptr;
        for (int row = 0; row < item->rowCount() && !found; ++row)
            if (pathOf(*item->child(row)) == childPath(pathOf(*item), name))
                found = item->child(row);
        if (!found) break;
        if (item != fModel->item(0)) ui->DirectoryListBox->expand(item->index());
        item = found;
    }
    if (item && item != fModel->item(0)) {
        ui->DirectoryListBox->setCurrentIndex(item->index());
        ui->DirectoryListBox->scrollTo(item->index(), QAbstractItemView::PositionAtCenter);
    }
}

// A root the list does not offer (any more) falls back to "/".
void TfrmSelectDir::openRoot(const std::string& root) {
    int index = 0;
    for (size_t i = 0; i < fRoots.size(); ++i)
        if (fRoots[i].path == root) index = static_cast<int>(i);
    fRoot = fRoots[index].path;
    ui->DriveComboBox->setCurrentIndex(index);
    fModel->clear();
    QStandardItem* top = folderItem(fRoot, fRoot);
    fModel->appendRow(top);
    listFolders(*top);
    ui->DirectoryListBox->setRootIndex(top->index());
    ui->DirectoryListBox->setCurrentIndex(QModelIndex());
}

void TfrmSelectDir::rootChosen(int index) {
    if (index >= 0 && index < static_cast<int>(fRoots.size())) openRoot(fRoots[index].path);
}

// The tree is listed again, and the folder that was open opens again.
void TfrmSelectDir::showHiddenChanged(bool) {
    const std::string open = currentFolder();
    openRoot(fRoot);
    if (open != fRoot) openFolder(open);
}

std::string TfrmSelectDir::currentFolder() const {
    const QStandardItem* current = fModel->itemFromIndex(ui->DirectoryListBox->currentIndex());
    return current ? pathOf(*current) : fRoot;
}

void TfrmSelectDir::accept() {
    selectedDir = currentFolder();
    QDialog::accept();
}

void TfrmSelectDir::reject() {
    selectedDir.clear();
    QDialog::reject();
}

std::string chooseFolder(QWidget* parent, const char* caption, const std::string& startDir) {
    TfrmSelectDir dialog(parent);
    dialog.setWindowTitle(QString::fromUtf8(caption));
    if (isDirectory(startDir)) dialog.startDir = startDir;
    dialog.exec();
    return dialog.selectedDir.empty() ? std::string()
                                      : includeTrailingDelimiter(dialog.selectedDir);
}

}  // namespace qvb
