#pragma once

#include <QWidget>

// The name of a column over a value cell of the row editor: plain text on one
// line, cut with "…" when the cell is too narrow, the whole name then in the
// tool tip. main thread
class ZNTColumnNameLabel : public QWidget {
    Q_OBJECT
public:
    explicit ZNTColumnNameLabel(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    // What is drawn now.
    QString shownText() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateToolTip();

    QString m_text;
};
