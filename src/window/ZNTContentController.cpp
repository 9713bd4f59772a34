#include "ZNTContentController.h"

#include "uikit/AlertSheet.h"

ZNTContentController::~ZNTContentController() {
    delete m_view.data();
}

QWidget *ZNTContentController::view() {
    if (!m_view)
        m_view = makeView();
    return m_view;
}

void presentPageNotice(const ZNTPageLeftovers::Notice &notice, QWidget *window, std::function<void()> after) {
    Alert *alert =
        Alert::alertWithMessageText(notice.messageText, QStringLiteral("OK"), {}, {}, notice.informativeText);
    alert->setAlertStyle(Alert::Style::Critical);
    alert->compatibleBeginSheetModalForWindow(window, after ? [after](int) { after(); } : std::function<void(int)>());
}
