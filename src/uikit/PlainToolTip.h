#pragma once

#include <QString>

// A tool tip that shows text from outside the program (a server's object
// names and messages) exactly as it is: Qt reads a tool tip that looks like
// HTML as HTML, and would show "<b>x</b>" as a bold x or load an image from
// an <img> element. main thread
QString plainToolTip(const QString &text);
