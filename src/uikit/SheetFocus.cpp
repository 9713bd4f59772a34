#include "SheetFocus.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace {
void activateAfterSheet(QWidget *window) {
    if (!window->isVisible())
        return;
    QWidget *active = QApplication::activeWindow();
    if (active && active->isVisible())
        return; // the window manager did it, or the user went elsewhere
    // A handler may have begun the next sheet on the same window.
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible() && modal->parentWidget() && modal->parentWidget()->window() == window) {
        modal->activateWindow();
        return;
    }
    window->activateWindow();
}
} // namespace

void uv_returnFocusAfterSheet(QDialog *sheet) {
    QObject::connect(sheet, &QDialog::finished, sheet, [sheet] {
        QWidget *parent = sheet->parentWidget();
        if (!parent)
            return;
        // After the sheet's own handlers, which may close the window or begin
        // another sheet; nothing when the window is gone by then.
        QTimer::singleShot(0, parent->window(), [window = QPointer<QWidget>(parent->window())] {
            if (window)
                activateAfterSheet(window);
        });
    });
}

QDialog *uv_openSheet(QWidget *window) {
    if (!window)
        return nullptr;
    for (QDialog *sheet : window->findChildren<QDialog *>()) {
        if (sheet->isVisible() && sheet->windowModality() != Qt::NonModal)
            return sheet;
    }
    return nullptr;
}

void uv_bringForward(QWidget *window) {
    window->show();
    window->raise();
    window->activateWindow();
    if (QDialog *sheet = uv_openSheet(window)) {
        sheet->raise();
        sheet->activateWindow();
    }
}
