#include "ui/QV_BackupHelp.h"

#include "ui_QV_BackupHelp.h"

namespace qvb {

TfrmHelp::TfrmHelp(QWidget* parent) : QDialog(parent), ui(new Ui::TfrmHelp) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->btnOK, &QPushButton::clicked, this, &TfrmHelp::close);
}

TfrmHelp::~TfrmHelp() = default;

TfrmHelp* showHelp(QWidget* owner) {
    auto* help = new TfrmHelp(owner);
    help->setModal(false);
    help->show();
    return help;
}

}  // namespace qvb
