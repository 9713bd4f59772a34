#pragma once

#include <QComboBox>
#include <QToolButton>
#include <QWidget>

class QButtonGroup;

// Buttons for the button bars of the pages: flat, with a faint rounded
// background so that they read as buttons without a bezel. main thread

class ZNTTerminalButton : public QToolButton {
    Q_OBJECT
public:
    explicit ZNTTerminalButton(QWidget *parent = nullptr);
    // A button of a bar that shows its title only (its object name for the tests).
    static ZNTTerminalButton *withText(const QString &name, const QString &title, const QString &toolTip);

protected:
    void paintEvent(QPaintEvent *event) override;
};

class ZNTTerminalPopUpButton : public QComboBox {
    Q_OBJECT
public:
    explicit ZNTTerminalPopUpButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A row of joined segments, each a text or icon button.
class ZNTTerminalSegmentedControl : public QWidget {
    Q_OBJECT
public:
    enum class Tracking { SelectOne, SelectAny, Momentary };

    explicit ZNTTerminalSegmentedControl(Tracking tracking = Tracking::SelectOne, QWidget *parent = nullptr);

    int addSegment(const QString &label, const QIcon &icon = {}, const QString &toolTip = {});
    int segmentCount() const;
    void setSelected(int segment, bool selected);
    bool isSelected(int segment) const;
    void setSegmentEnabled(int segment, bool enabled);
    bool isSegmentEnabled(int segment) const;
    QToolButton *segmentButton(int segment) const;

signals:
    void segmentClicked(int segment);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Tracking m_tracking;
    QButtonGroup *m_group;
};

// The faint rounded background of bar buttons, over what the style drew.
void drawBarButtonBackground(QWidget *button);
