#include "ui/QV_Rename.h"

#include "ui/WindowFlags.h"
#include "ui_QV_Rename.h"
#include "util/UserInterface.h"

namespace qvb {

std::string nameTakenWarning(const std::string& name) {
    return "Es gibt schon einen Backup-Job \"" + name +
           "\".\r\nBitte geben Sie eine andere Bezeichnung ein.";
}

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
    const std::string typed = ui->edtName->text().toStdString();
    if (!typed.empty() && nameTaken && nameTaken(typed)) {
        userInterface().showMessage(TMsgKind::Warning, nameTakenWarning(typed), mbOK,
                                    TMsgResult::OK);
        ui->edtName->setFocus();
        return;
    }
    newName = typed;
    QDialog::accept();
}

void TfrmRename::reject() {
    newName.clear();
    QDialog::reject();
}

}  // namespace qvb
