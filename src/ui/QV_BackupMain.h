#pragma once

// The program's only top-level window.

#include <QMainWindow>
#include <memory>

namespace Ui {
class TfrmMain;
}

namespace qvb {

class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

  private:
    std::unique_ptr<Ui::TfrmMain> ui;
};

}  // namespace qvb
