#include "ZNTHelpWindowController.h"

#include "platform/ProgramError.h"
#include "uikit/CloseKeys.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

ZNTHelpWindowController &ZNTHelpWindowController::sharedController() {
    requireMainThread("ZNTHelpWindowController::sharedController");
    static ZNTHelpWindowController *shared = new ZNTHelpWindowController; // lives as long as the program
    return *shared;
}

ZNTHelpWindowController::ZNTHelpWindowController(QWidget *parent) : QWidget(parent, Qt::Window) {
    buildUi();
    connectActions();
}

QUrl ZNTHelpWindowController::urlForTopic(const QString &topic) {
    return QUrl(QStringLiteral("qrc:/help/%1.html").arg(topic));
}

void ZNTHelpWindowController::buildUi() {
    setWindowTitle(tr("Trellan Help"));
    resize(720, 640);
    m_back = new QToolButton(this);
    m_back->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    m_back->setToolTip(tr("Back (%1)").arg(QKeySequence(QKeySequence::Back).toString(QKeySequence::NativeText)));
    m_back->setShortcut(QKeySequence::Back);
    m_back->setEnabled(false);
    m_forward = new QToolButton(this);
    m_forward->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    m_forward->setToolTip(
        tr("Forward (%1)").arg(QKeySequence(QKeySequence::Forward).toString(QKeySequence::NativeText)));
    m_forward->setShortcut(QKeySequence::Forward);
    m_forward->setEnabled(false);

    m_webview = new QTextBrowser(this);
    m_webview->setOpenLinks(true);
    m_webview->setOpenExternalLinks(true); // anything but qrc: and file: goes to the desktop
    m_webview->setFrameShape(QFrame::NoFrame);
    m_webview->document()->setDocumentMargin(12);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(6, 6, 6, 0);
    bar->setSpacing(2);
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_webview);

    auto *close = new QAction(this);
    close->setShortcuts(uv_closeKeys());
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void ZNTHelpWindowController::connectActions() {
    connect(m_back, &QToolButton::clicked, this, [this] { backForward(0); });
    connect(m_forward, &QToolButton::clicked, this, [this] { backForward(1); });
    connect(m_webview, &QTextBrowser::backwardAvailable, m_back, &QWidget::setEnabled);
    connect(m_webview, &QTextBrowser::forwardAvailable, m_forward, &QWidget::setEnabled);
    connect(m_webview, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = m_webview->documentTitle();
        if (!title.isEmpty())
            setWindowTitle(title);
    });
}

void ZNTHelpWindowController::showHelpTopic(const QString &topic) {
    show();
    raise();
    activateWindow();
    m_webview->setSource(urlForTopic(topic));
}

void ZNTHelpWindowController::backForward(int segment) {
    if (segment == 0)
        m_webview->backward();
    else if (segment == 1)
        m_webview->forward();
}
