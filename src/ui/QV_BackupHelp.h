#pragma once

// The short description: a modeless window, a new one at each call, so that
// the user can keep it open beside the main window.

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmHelp;
}

namespace qvb {

class TfrmHelp : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmHelp(QWidget* parent = nullptr);
    ~TfrmHelp() override;

  private:
    std::unique_ptr<Ui::TfrmHelp> ui;
};

// Opens a new short-description window owned by `owner`; it frees itself when
// closed.
TfrmHelp* showHelp(QWidget* owner);

}  // namespace qvb
