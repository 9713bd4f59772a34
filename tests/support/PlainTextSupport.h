// Text from outside the program must reach the screen as text: markup in a
// server's message or an object's name is shown, never rendered (an <img>
// element could load a local file, <a> make a link, <b> change the look).
#pragma once

#include <QLabel>
#include <QString>
#include <QTextDocument>
#include <QWidget>

// Markup that a label reading rich text would turn into something else.
inline const QString kMarkup = QStringLiteral("<b>x</b><img src=\"file:///etc/hostname\">");

// What Qt shows of a text given to a label with this format, or to a tool tip
// (which reads its text as a label with Qt::AutoText does).
inline QString shownText(const QString &text, Qt::TextFormat format = Qt::AutoText) {
    const bool rich = format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
    if (!rich)
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

inline QString shownText(const QLabel *label) {
    return shownText(label->text(), label->textFormat());
}

// The labels under root that show the markup as the text it is.
inline int labelsShowingMarkup(const QWidget *root) {
    int count = 0;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (shownText(label).contains(kMarkup))
            ++count;
    return count;
}

// The labels under root whose text holds the markup but that render it.
inline QStringList labelsRenderingMarkup(const QWidget *root) {
    QStringList names;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->text().contains(kMarkup) && !shownText(label).contains(kMarkup))
            names << label->text();
    return names;
}
