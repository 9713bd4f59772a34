#pragma once

#include <QMenu>
#include <QPointer>

// A menu that knows the row (or row view) it was opened for, so that its
// actions find their row. The owner is not kept alive by the menu. main thread
class ZNTMenuWithOwner : public QMenu {
    Q_OBJECT
public:
    using QMenu::QMenu;

    void setOwner(QObject *owner) { m_owner = owner; }
    QObject *owner() const { return m_owner; }

private:
    QPointer<QObject> m_owner;
};
