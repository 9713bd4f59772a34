#pragma once

#include <QLineEdit>
#include <QString>

// Posted when a ZNTBeveledTextField (or another of the program's own fields)
// takes the focus; object: the field (compare with Notification::object.get()),
// no user info.
inline const QString NSTextFieldDidBecomeFirstResponder = QStringLiteral("NSTextFieldDidBecomeFirstResponder");

enum ZNTBeveledTextFieldStyle {
    ZNTBeveledTextFieldStyleEditable = 0, // a light box with an outline, for typing
    ZNTBeveledTextFieldStyleLabel = 1,    // a faint read-only box, for a caption
};

// A field drawn by hand as a light editable box or a faint label; a row of them
// makes a strip whose outer corners are rounded (only while not editable). It
// announces when it takes the focus. There is no field without a style.
// main thread
class ZNTBeveledTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit ZNTBeveledTextField(int style, QWidget *parent = nullptr);

    int style() const { return m_style; }
    void setHasRoundTopLeft(bool on);
    void setHasRoundTopRight(bool on);
    void setHasRoundBottomLeft(bool on);
    void setHasRoundBottomRight(bool on);
    bool hasRoundTopLeft() const { return m_round[0]; }
    bool hasRoundTopRight() const { return m_round[1]; }
    bool hasRoundBottomLeft() const { return m_round[2]; }
    bool hasRoundBottomRight() const { return m_round[3]; }

    // Wider texts than this are measured at this width; 0: no limit.
    void setPreferredMaxLayoutWidth(int width);
    int preferredMaxLayoutWidth() const { return m_preferredMaxLayoutWidth; }

    // The box the field draws, in its own coordinates.
    QRectF boxRect() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    bool drawsOutline() const;
    void applyMargins();

    int m_style;
    bool m_round[4] = {false, false, false, false};
    int m_preferredMaxLayoutWidth = 0;
};
