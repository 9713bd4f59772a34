#pragma once

#include <QWidget>

class QTimer;

// A busy spinner that runs from the start; it only ticks while it is shown,
// and draws nothing once stopped. main thread
class ZNTAnimatingIndicator : public QWidget {
    Q_OBJECT
public:
    explicit ZNTAnimatingIndicator(QWidget *parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_animating; }
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void syncTimer();

    QTimer *m_timer;
    int m_step = 0;
    bool m_animating = true;
};
