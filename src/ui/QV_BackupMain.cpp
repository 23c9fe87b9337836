#include "ui/QV_BackupMain.h"

#include "ui_QV_BackupMain.h"

namespace qvb {

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent), ui(new Ui::TfrmMain) {
    ui->setupUi(this);
}

TfrmMain::~TfrmMain() = default;

}  // namespace qvb
