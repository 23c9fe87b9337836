#include "ui/QV_SelectDir.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QScrollBar>

#include "ui/WindowFlags.h"
#include "ui_QV_SelectDir.h"

namespace qvb {

namespace {

// File names are bytes; Qt's strings hold them in the local (UTF-8) encoding.
QString toPath(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string fromPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QDir::Filters folderFilter(bool hidden) {
    return QDir::AllDirs | QDir::NoDotAndDotDot | (hidden ? QDir::Hidden : QDir::Filters());
}

}  // namespace

TfrmSelectDir::TfrmSelectDir(QWidget* parent)
    : QDialog(parent), ui(new Ui::TfrmSelectDir), fModel(new QFileSystemModel(this)) {
    ui->setupUi(this);
    setWindowFlags(kToolDialogFlags);
    fModel->setFilter(folderFilter(false));
    ui->DirectoryListBox->setModel(fModel);
    for (int column = 1; column < fModel->columnCount(); ++column)
        ui->DirectoryListBox->hideColumn(column);
    connect(ui->DriveComboBox, &QComboBox::activated, this, &TfrmSelectDir::rootChosen);
    connect(fModel, &QFileSystemModel::rowsInserted, this, &TfrmSelectDir::keepCurrentInView);
    connect(fModel, &QFileSystemModel::layoutChanged, this, &TfrmSelectDir::keepCurrentInView);
    connect(ui->DirectoryListBox, &QTreeView::pressed, this, &TfrmSelectDir::stopFollowing);
    connect(ui->DirectoryListBox->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            &TfrmSelectDir::stopFollowing);
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
    const bool startExists = QFileInfo(toPath(startDir)).isDir();
    if (startExists) driveLetter = rootOf(startDir, fRoots);
    openRoot(driveLetter);
    if (startExists && startDir != fRoot) openFolder(startDir);
    QDialog::showEvent(event);
}

// The model reads and sorts folders in the background, so rows keep arriving
// after the folder was opened: the tree follows the folder until the user
// takes over.
void TfrmSelectDir::openFolder(const std::string& path) {
    const QModelIndex folder = fModel->index(toPath(path));
    ui->DirectoryListBox->setCurrentIndex(folder);
    for (QModelIndex parent = folder.parent(); parent.isValid(); parent = parent.parent())
        ui->DirectoryListBox->expand(parent);
    fFollowCurrent = true;
    keepCurrentInView();
}

void TfrmSelectDir::keepCurrentInView() {
    if (fFollowCurrent)
        ui->DirectoryListBox->scrollTo(ui->DirectoryListBox->currentIndex(),
                                       QAbstractItemView::PositionAtCenter);
}

void TfrmSelectDir::stopFollowing() {
    fFollowCurrent = false;
}

// A root the list does not offer (any more) falls back to "/".
void TfrmSelectDir::openRoot(const std::string& root) {
    int index = 0;
    for (size_t i = 0; i < fRoots.size(); ++i)
        if (fRoots[i].path == root) index = static_cast<int>(i);
    fRoot = fRoots[index].path;
    stopFollowing();
    ui->DriveComboBox->setCurrentIndex(index);
    const QModelIndex top = fModel->setRootPath(toPath(fRoot));
    ui->DirectoryListBox->setRootIndex(top);
    ui->DirectoryListBox->setCurrentIndex(QModelIndex());
}

void TfrmSelectDir::rootChosen(int index) {
    if (index >= 0 && index < static_cast<int>(fRoots.size())) openRoot(fRoots[index].path);
}

void TfrmSelectDir::showHiddenChanged(bool show) {
    fModel->setFilter(folderFilter(show));
}

std::string TfrmSelectDir::currentFolder() const {
    const QModelIndex current = ui->DirectoryListBox->currentIndex();
    return current.isValid() ? fromPath(fModel->filePath(current)) : fRoot;
}

void TfrmSelectDir::accept() {
    selectedDir = currentFolder();
    QDialog::accept();
}

void TfrmSelectDir::reject() {
    selectedDir.clear();
    QDialog::reject();
}

}  // namespace qvb
