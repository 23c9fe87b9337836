#pragma once

// The program information window: title, version, what the program does, its
// picture and the project's home page.

#include <QDialog>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class TfrmQV_Info;
}

namespace qvb {

inline constexpr const char* kHomePage = "https://example.org/qv_backup";

// The error text when the home page cannot be opened.
std::string homePageNotFoundText();

class TfrmQV_Info : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmQV_Info(QWidget* parent = nullptr);
    ~TfrmQV_Info() override;

    // The four numbers of the program's version; the compiled one unless the
    // caller shows another.
    std::array<int, 4> fFileVersion;
    // The desktop's opener of addresses; true when it could start one.
    std::function<bool(const QUrl&)> fOpenUrl;

    void lblURLClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<Ui::TfrmQV_Info> ui;
};

}  // namespace qvb
