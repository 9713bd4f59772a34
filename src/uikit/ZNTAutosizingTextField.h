#pragma once

#include <QLineEdit>

// A field as wide as the text in it, also while the user types: layouts give
// it more room with every character. main thread
class ZNTAutosizingTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit ZNTAutosizingTextField(QWidget *parent = nullptr);

    // Texts wider than this are measured at this width; 0: no limit.
    void setPreferredMaxLayoutWidth(int width);
    int preferredMaxLayoutWidth() const { return m_preferredMaxLayoutWidth; }
    // From the first typed change to the end of editing.
    bool isEditing() const { return m_editing; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

private:
    int m_preferredMaxLayoutWidth = 0;
    bool m_editing = false;
};
