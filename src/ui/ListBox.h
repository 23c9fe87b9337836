#pragma once

// A list that reports mouse and key releases and key presses after it has
// handled them itself, so that a handler sees the selection and check marks
// the user has just set.

#include <QListWidget>

namespace qvb {

class TListBox : public QListWidget {
    Q_OBJECT

  public:
    explicit TListBox(QWidget* parent = nullptr) : QListWidget(parent) {}

    // Row of the first selected item, -1 when none is selected.
    int selectedRow() const;
    // Selects exactly `row` and makes it current (-1 clears the selection).
    void selectRow(int row);

  signals:
    void mouseUp();
    void keyDown(int key);
    void keyUp(int key);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

}  // namespace qvb
