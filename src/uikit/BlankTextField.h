#pragma once

#include <QLabel>

// A plain caption for layouts made in code: no frame, no background, wraps,
// never squeezed in height and never wider than its text. main thread
class BlankTextField : public QLabel {
    Q_OBJECT
public:
    explicit BlankTextField(const QString &text = {}, QWidget *parent = nullptr);
};
