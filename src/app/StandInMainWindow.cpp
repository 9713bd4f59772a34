#include "StandInMainWindow.h"

#include "model/ZNTObject.h"
#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

class StandInMainWindowController::Window : public QWidget {
public:
    explicit Window(std::function<void()> willClose) : m_willClose(std::move(willClose)) {}

protected:
    void closeEvent(QCloseEvent *event) override {
        if (m_willClose)
            m_willClose();
        event->accept();
    }

private:
    std::function<void()> m_willClose;
};

namespace {

QString titleFor(const std::shared_ptr<ZNTObject> &item) {
    const std::shared_ptr<ZNTObject> parent = item ? item->parent() : nullptr;
    if (!item)
        return QStringLiteral("Trellan");
    return parent ? QStringLiteral("%1 — %2").arg(item->name(), parent->name()) : item->name();
}

} // namespace

std::shared_ptr<StandInMainWindowController> StandInMainWindowController::create(const std::shared_ptr<ZNTObject> &item,
                                                                                 std::function<void()> quit) {
    requireMainThread("StandInMainWindowController::create");
    std::shared_ptr<StandInMainWindowController> controller(new StandInMainWindowController);
    std::weak_ptr<StandInMainWindowController> weak = controller;
    auto *window = new Window([weak] {
        if (auto self = weak.lock())
            self->windowWillClose();
    });
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(titleFor(item));
    window->resize(640, 400);

    auto *layout = new QVBoxLayout(window);
    auto *heading = new QLabel(QStringLiteral("Connected to %1").arg(titleFor(item)));
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    heading->setFont(font);
    heading->setAlignment(Qt::AlignCenter);
    heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *note = new QLabel(QStringLiteral("The database browser opens here."));
    note->setAlignment(Qt::AlignCenter);
    note->setForegroundRole(QPalette::PlaceholderText);
    auto *close = new QPushButton(QStringLiteral("Close"));
    QObject::connect(close, &QPushButton::clicked, window, &QWidget::close);
    layout->addStretch();
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addStretch();
    layout->addWidget(close, 0, Qt::AlignRight);

    auto *closeAction = new QAction(QStringLiteral("Close Window"), window);
    closeAction->setShortcut(QKeySequence::Close);
    QObject::connect(closeAction, &QAction::triggered, window, &QWidget::close);
    auto *quitAction = new QAction(QStringLiteral("Quit"), window);
    // Some platform themes bind no key to Quit; Ctrl+Q is every Linux desktop's.
    quitAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Q)});
    QObject::connect(quitAction, &QAction::triggered, window, [quit] {
        if (quit)
            quit();
    });
    window->addActions({closeAction, quitAction});
    controller->m_window = window;
    return controller;
}

StandInMainWindowController::~StandInMainWindowController() {
    // Forgotten at quit while still open: the window goes with its controller.
    if (m_window)
        m_window->deleteLater();
}

void StandInMainWindowController::showWindow() {
    if (!m_window)
        return;
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void StandInMainWindowController::performClose() {
    if (m_window)
        m_window->close();
}

void StandInMainWindowController::windowWillClose() {
    NotificationCenter::defaultCenter().post(WillCloseNotification, shared_from_this());
}

ZNTWindowControllerFactory StandInMainWindowController::factory(std::function<void()> quit) {
    return [quit](std::shared_ptr<ZNTObject> item) -> std::shared_ptr<ZNTWindowControllerHandle> {
        return create(item, quit);
    };
}
