#pragma once

#include <QWidget>

class QTextBrowser;
class QToolButton;

// The help window: the program's HTML help pages (shipped as resources under
// ":/help"), with back and forward. Links between pages are followed in the
// window; links to anything else (web pages, mail) go to the desktop's handler
// and leave the page in place. One shared window, kept with its history when
// closed. main thread
class ZNTHelpWindowController : public QWidget {
    Q_OBJECT
public:
    static ZNTHelpWindowController &sharedController();
    explicit ZNTHelpWindowController(QWidget *parent = nullptr);

    // Shows the window with the page of topic ("index", "favorite-window",
    // "changelist", ...).
    void showHelpTopic(const QString &topic);
    // 0 goes back, 1 forward, anything else does nothing.
    void backForward(int segment);

    static QUrl urlForTopic(const QString &topic);

    QTextBrowser *webview() const { return m_webview; }
    QToolButton *backButton() const { return m_back; }
    QToolButton *forwardButton() const { return m_forward; }

private:
    void buildUi();
    void connectActions();

    QTextBrowser *m_webview = nullptr;
    QToolButton *m_back = nullptr;
    QToolButton *m_forward = nullptr;
};
