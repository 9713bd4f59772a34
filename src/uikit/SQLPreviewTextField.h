#pragma once

#include <QPlainTextEdit>

// The read-only field that shows SQL about to run: at most 450 px wide, the
// text wrapped to that width and the field as tall as the wrapped text (up to
// 600 px; longer statements scroll). main thread
class SQLPreviewTextField : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kWrapWidth = 450;
    static constexpr int kMaxHeight = 600;

    explicit SQLPreviewTextField(QWidget *parent = nullptr);

    QSize sizeHint() const override;
};
