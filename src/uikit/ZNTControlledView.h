#pragma once

#include <QPointer>
#include <QWidget>

// A view that hands actions it does not take to its controller before its
// parent: an action routed up from a widget visits each widget, and for a
// ZNTControlledView its viewController right after it. The controller is not
// owned; a view without one routes like any widget. main thread
class ZNTControlledView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Replaces the controller: the former one leaves the route.
    void setViewController(QObject *controller) { m_viewController = controller; }
    QObject *viewController() const { return m_viewController; }

    // The controller to offer an action to after widget, or nullptr.
    static QObject *controllerOf(const QWidget *widget) {
        auto *view = qobject_cast<const ZNTControlledView *>(widget);
        return view ? view->viewController() : nullptr;
    }

private:
    QPointer<QObject> m_viewController;
};
