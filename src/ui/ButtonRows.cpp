#include "ui/ButtonRows.h"

#include <QEvent>
#include <QGridLayout>
#include <QPushButton>
#include <QWidget>

namespace qvb {

TButtonRows::TButtonRows(QWidget* box, QGridLayout* grid, QList<QPushButton*> buttons)
    : QObject(box), fBox(box), fGrid(grid), fButtons(std::move(buttons)) {
    box->installEventFilter(this);
    arrange();
}

bool TButtonRows::eventFilter(QObject* watched, QEvent* event) {
    // A new caption ("Einstell.") may need the room of another row.
    if (watched == fBox &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        arrange();
    return false;
}

int TButtonRows::oneRowWidth() const {
    const QMargins margins = fGrid->contentsMargins();
    int width = margins.left() + margins.right() +
                fGrid->horizontalSpacing() * static_cast<int>(fButtons.size() - 1);
    for (const QPushButton* button : fButtons) width += button->sizeHint().width();
    return width;
}

void TButtonRows::arrange() {
    const int count = static_cast<int>(fButtons.size());
    const int columns = oneRowWidth() <= fBox->contentsRect().width() ? count : (count + 1) / 2;
    if (columns == fColumns) return;
    fColumns = columns;
    for (int i = 0; i < count; ++i) fGrid->addWidget(fButtons[i], i / columns, i % columns);
    for (int c = 0; c < count; ++c) fGrid->setColumnStretch(c, c < columns ? 1 : 0);
}

}  // namespace qvb
