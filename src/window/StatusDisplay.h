#pragma once

#include "StatusDisplayText.h"
#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

class ZNTConnection;

// The middle of a main window's toolbar: the state of one connection, with the
// favorite's name and colour, the server version when idle and, while a
// statement runs, its progress text or its text with the running time. It
// redraws at each state change of its connection, and every 0.1 s while busy.
// main thread
class StatusDisplay : public QWidget {
    Q_OBJECT
public:
    explicit StatusDisplay(QWidget *parent = nullptr);

    std::shared_ptr<ZNTConnection> connection() const { return m_connection; }
    // Follows connection from now on (the same one: only a redraw).
    void setConnection(std::shared_ptr<ZNTConnection> connection);

    // What it would draw now.
    StatusTexts currentTexts() const;
    bool isTicking() const { return m_tick->isActive(); }
    // Whether it draws the active look: its window has the focus, or a sheet
    // of that window has (the user is watching the statement it runs).
    bool drawsActiveLook() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The connection announced a new state (the window's commands follow it).
    void connectionStateChanged();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void watchWindow();
    void connectionStatusChanged();
    void updateTicking();
    QRectF titleRect() const;
    QFont textFont() const;

    std::shared_ptr<ZNTConnection> m_connection;
    ObserverToken m_statusObserver;
    QTimer *m_tick = nullptr;
    QPointer<QWidget> m_watchedWindow;
};
