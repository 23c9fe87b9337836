#pragma once

// A row of buttons that wraps into two rows when its box is too narrow for
// every caption in one (the window at its smallest size), instead of cutting
// the captions.

#include <QList>
#include <QObject>

class QGridLayout;
class QPushButton;
class QWidget;

namespace qvb {

class TButtonRows : public QObject {
  public:
    // `box` holds `grid`, which holds `buttons` in this order.
    TButtonRows(QWidget* box, QGridLayout* grid, QList<QPushButton*> buttons);

    int columns() const { return fColumns; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void arrange();
    int oneRowWidth() const;

    QWidget* fBox;
    QGridLayout* fGrid;
    QList<QPushButton*> fButtons;
    int fColumns = 0;
};

}  // namespace qvb
