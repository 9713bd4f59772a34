#pragma once

#include <QKeySequence>
#include <QList>

// The keys of the Close command of a window without a File menu (help,
// preferences): Ctrl+W as in the main windows, then the platform's own Close
// keys (Ctrl+F4 alone under some desktops' key schemes), then Escape. Each key
// comes once: Qt finds a key that one action holds twice ambiguous, and then
// closes nothing. platformClose is for tests; the windows take the platform's.
// main thread
QList<QKeySequence>
uv_closeKeys(const QList<QKeySequence> &platformClose = QKeySequence::keyBindings(QKeySequence::Close));
