#pragma once

#include <QLabel>

// A one-line plain-text label that a bar's layout may squeeze below its text:
// what does not fit ends in an ellipsis instead of being cut through a glyph,
// so that "of 250000" never reads as "of 25000". text() stays the whole text.
// main thread
class ElidingLabel : public QLabel {
public:
    explicit ElidingLabel(QWidget *parent = nullptr);

    // The text as it is painted at the label's present width. main thread
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textRect() const;
};
