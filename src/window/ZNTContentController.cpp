#include "ZNTContentController.h"

ZNTContentController::~ZNTContentController() {
    delete m_view.data();
}

QWidget *ZNTContentController::view() {
    if (!m_view)
        m_view = makeView();
    return m_view;
}
