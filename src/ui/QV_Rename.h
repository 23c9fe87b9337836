#pragma once

// Asks for a job's new name.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class TfrmRename;
}

namespace qvb {

// The warning for a name that another job has already.
std::string nameTakenWarning(const std::string& name);

class TfrmRename : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmRename(QWidget* parent = nullptr);
    ~TfrmRename() override;

    // In: the current name. Out: the new name as typed, or empty when the user
    // cancelled or emptied the field, and the caller keeps the old name.
    std::string newName;
    // Whether another job has the name: such a name is refused with a
    // warning, and the dialog stays open.
    std::function<bool(const std::string&)> nameTaken;

    void accept() override;
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<Ui::TfrmRename> ui;
};

}  // namespace qvb
