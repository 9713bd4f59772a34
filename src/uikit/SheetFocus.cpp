#include "SheetFocus.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace {
void activateAfterSheet(QWidget *window) {
    if (!window->isVisible())
        return;
    QWidget *active = QApplication::activeWindow();
    if (active && active->isVisible())
        return; // the window manager did it, or the user went elsewhere
    // A handler may have begun the next sheet on the same window.
    if (QDialog *next = uv_openSheet(window))
        next->activateWindow();
    else
        window->activateWindow();
}

// A window a sheet blocks passes the keys on to its newest sheet. A window
// manager may activate the window itself: with two sheets shown on it at once
// it goes back and forth between the window and the newer one, and may end on
// the window, which takes no key. Once the activation settles elsewhere,
// nothing more is asked.
void passActivationToSheet(QWindow *focused) {
    if (!focused)
        return;
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto blocked =
        std::find_if(windows.begin(), windows.end(), [focused](QWidget *w) { return w->windowHandle() == focused; });
    QDialog *sheet = blocked == windows.end() ? nullptr : uv_openSheet(*blocked);
    if (!sheet || sheet == *blocked)
        return;
    QTimer::singleShot(0, sheet, [sheet, focused = QPointer<QWindow>(focused)] {
        if (focused && QGuiApplication::focusWindow() == focused && sheet->isVisible())
            sheet->activateWindow();
    });
}

void passActivationToSheets() {
    static bool installed = false;
    if (std::exchange(installed, true))
        return;
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, qApp, &passActivationToSheet);
}
} // namespace

void uv_returnFocusAfterSheet(QDialog *sheet) {
    passActivationToSheets();
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

QList<QDialog *> uv_openSheets(QWidget *window) {
    QList<QDialog *> sheets;
    if (!window)
        return sheets;
    for (QDialog *sheet : window->findChildren<QDialog *>()) {
        if (sheet->isVisible() && sheet->windowModality() != Qt::NonModal)
            sheets << sheet;
    }
    // Only the newest modal window is known for certain; among the others,
    // one shown later was given to its window later.
    if (auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget()); modal && sheets.removeOne(modal))
        sheets << modal;
    return sheets;
}

QDialog *uv_openSheet(QWidget *window) {
    const QList<QDialog *> sheets = uv_openSheets(window);
    return sheets.isEmpty() ? nullptr : sheets.last();
}

// Its window goes with a new parent; shown again, it is transient for, and
// modal over, the window it stands on now.
void uv_moveSheet(QDialog *sheet, QWidget *window) {
    if (!sheet || !window || sheet->parentWidget() == window)
        return;
    const bool shown = sheet->isVisible();
    // Hiding a dialog that open() made modal takes its modality back.
    const Qt::WindowModality modality = sheet->windowModality();
    sheet->setParent(window, sheet->windowFlags());
    sheet->setWindowModality(modality);
    // Shown again in a native window of its own: the hidden one could still
    // count as the focused window, and the sheet as not active, with no key
    // going anywhere.
    if (QWindow *native = sheet->windowHandle())
        native->destroy();
    if (shown)
        sheet->show();
}

// A sheet shown on one of these goes along with it.
QList<QDialog *> uv_sheetsOn(QWidget *from) {
    QList<QDialog *> sheets = uv_openSheets(from);
    sheets.removeIf(
        [from](QDialog *sheet) { return !sheet->parentWidget() || sheet->parentWidget()->window() != from->window(); });
    return sheets;
}

void uv_moveSheets(QWidget *from, QWidget *window) {
    if (!from || !window || from == window)
        return;
    for (QDialog *sheet : uv_sheetsOn(from))
        uv_moveSheet(sheet, window);
}

void uv_bringForward(QWidget *window) {
    window->show();
    window->raise();
    const QList<QDialog *> sheets = uv_openSheets(window);
    for (QDialog *sheet : sheets)
        sheet->raise();
    // Activating an older sheet, which the newest blocks, would leave the
    // keys on a window that takes none.
    if (sheets.isEmpty())
        window->activateWindow();
    else
        sheets.last()->activateWindow();
}
