#include "ui/ListBox.h"

#include <QKeyEvent>

namespace qvb {

int TListBox::selectedRow() const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) return i;
    return -1;
}

void TListBox::selectRow(int row) {
    if (row < 0 || row >= count()) {
        clearSelection();
        return;
    }
    setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void TListBox::mouseReleaseEvent(QMouseEvent* event) {
    QListWidget::mouseReleaseEvent(event);
    emit mouseUp();
}

void TListBox::keyPressEvent(QKeyEvent* event) {
    QListWidget::keyPressEvent(event);
    emit keyDown(event->key());
}

void TListBox::keyReleaseEvent(QKeyEvent* event) {
    QListWidget::keyReleaseEvent(event);
    if (!event->isAutoRepeat()) emit keyUp(event->key());
}

}  // namespace qvb
