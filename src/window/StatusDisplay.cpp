#include "StatusDisplay.h"

#include "engine/ZNTConnection.h"
#include "platform/ProgramError.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

StatusDisplay::StatusDisplay(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("statusDisplay"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Connection status"));
    // One timer while a statement runs: redraws never pile up further ones.
    m_tick = new QTimer(this);
    m_tick->setInterval(100);
    connect(m_tick, &QTimer::timeout, this, [this] {
        update();
        updateTicking();
    });
    // A sheet of this window losing the focus to another program tells the
    // window nothing: only the application hears of it.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] { update(); });
}

void StatusDisplay::setConnection(std::shared_ptr<ZNTConnection> connection) {
    requireMainThread("StatusDisplay::setConnection");
    if (connection != m_connection) {
        m_statusObserver = connection ? NotificationCenter::defaultCenter().observe(
                                            ZNTConnection::StatusChangedNotification, connection.get(),
                                            [this](const Notification &) { connectionStatusChanged(); })
                                      : ObserverToken();
        m_connection = std::move(connection);
    }
    connectionStatusChanged();
}

void StatusDisplay::connectionStatusChanged() {
    updateTicking();
    update();
    const StatusTexts texts = currentTexts();
    setAccessibleDescription(texts.right.isNull() ? texts.left : texts.left + QStringLiteral(", ") + texts.right);
    emit connectionStateChanged();
}

void StatusDisplay::updateTicking() {
    const bool busy = m_connection && m_connection->state() == ZNTConnection::ZNTConnectionStateBusy;
    if (busy && !m_tick->isActive())
        m_tick->start();
    else if (!busy)
        m_tick->stop();
}

StatusTexts StatusDisplay::currentTexts() const {
    return StatusTexts::forSnapshot(StatusSnapshot::ofConnection(m_connection), QDateTime::currentDateTime());
}

QFont StatusDisplay::textFont() const {
    QFont small = font();
    small.setPointSizeF(std::max(8.0, font().pointSizeF() * 0.92));
    return small;
}

QSize StatusDisplay::sizeHint() const {
    const QFontMetrics metrics(textFont());
    return {std::max(360, metrics.averageCharWidth() * 60), metrics.height() + 12};
}

QSize StatusDisplay::minimumSizeHint() const {
    return {160, sizeHint().height()};
}

QRectF StatusDisplay::titleRect() const {
    return QRectF(rect()).adjusted(10, 2, -10, -2);
}

void StatusDisplay::changeEvent(QEvent *event) {
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

bool StatusDisplay::event(QEvent *event) {
    // The window this display sits in is known once it has been placed.
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)
        watchWindow();
    return QWidget::event(event);
}

// Only the window itself is told when it becomes active or inactive.
void StatusDisplay::watchWindow() {
    QWidget *top = window();
    if (top == m_watchedWindow)
        return;
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_watchedWindow = top;
    top->installEventFilter(this);
}

bool StatusDisplay::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_watchedWindow &&
        (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate))
        update();
    return QWidget::eventFilter(watched, event);
}

bool StatusDisplay::drawsActiveLook() const {
    if (isActiveWindow())
        return true;
    // A sheet on a sheet of this window counts as well.
    const QWidget *own = window();
    for (const QWidget *active = QApplication::activeWindow(); active;) {
        if (active == own)
            return true;
        if (active->windowModality() != Qt::WindowModal || !active->parentWidget())
            return false;
        active = active->parentWidget()->window();
    }
    return false;
}

void StatusDisplay::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The display's own colours, whatever colour group Qt would pick for an
    // inactive window: its look is decided here.
    const StatusLook look = StatusLook::forState(palette().color(QPalette::Active, QPalette::Text), drawsActiveLook());
    const StatusSnapshot snapshot = StatusSnapshot::ofConnection(m_connection);
    const StatusTexts texts = StatusTexts::forSnapshot(snapshot, QDateTime::currentDateTime());

    // The bezel, from the palette so that a dark one looks right.
    const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(bezel, 4.0, 4.0);
    painter.fillPath(path, palette().color(QPalette::Active, QPalette::Base));
    if (snapshot.color.isValid()) {
        QColor tint = snapshot.color;
        tint.setAlphaF(float(look.tintAlpha));
        QPainterPath inner;
        inner.addRoundedRect(bezel, 3.0, 3.0);
        painter.fillPath(inner, tint);
    }
    painter.setPen(QPen(palette().color(QPalette::Mid), 1.0));
    painter.drawPath(path);

    const QRectF title = titleRect();
    const QFont font = textFont();
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    QRectF left(title.x(), title.center().y() - metrics.height() / 2, title.width(), metrics.height());
    const double leftWidth = metrics.horizontalAdvance(texts.left);
    const double rightWidth = texts.right.isNull() ? 0 : metrics.horizontalAdvance(texts.right);
    if (texts.drawsRight(title.width(), leftWidth, rightWidth)) {
        const QRectF right(title.right() - rightWidth, left.y(), rightWidth, metrics.height());
        painter.setPen(look.right);
        painter.drawText(right, Qt::AlignRight | Qt::AlignVCenter, texts.right);
        left.setWidth(left.width() - rightWidth - 3.0);
    }
    painter.setPen(look.left);
    painter.drawText(left, Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(texts.left, Qt::ElideRight, std::max(0.0, left.width())));
}
