#include "ui/QV_Rename.h"

#include "ui/WindowFlags.h"
#include "ui_QV_Rename.h"

namespace qvb {

TfrmRename::TfrmRename(QWidget* parent) : QDialog(parent), ui(new Ui::TfrmRename) {
    ui->setupUi(this);
    setWindowFlags(kToolDialogFlags);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmRename::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &TfrmRename::reject);
}

TfrmRename::~TfrmRename() = default;

void TfrmRename::showEvent(QShowEvent* event) {
    ui->edtName->setText(QString::fromStdString(newName));
    ui->edtName->setFocus();
    QDialog::showEvent(event);
}

void TfrmRename::accept() {
    newName = ui->edtName->text().toStdString();
    QDialog::accept();
}

void TfrmRename::reject() {
    newName.clear();
    QDialog::reject();
}

}  // namespace qvb
