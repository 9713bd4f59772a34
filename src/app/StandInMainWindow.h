#pragma once

#include "model/ZNTWindowControllerHandle.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class ZNTObject;

// The window a connected server opens until the real main window exists: it
// names the server and the database, and closing it runs the same path as
// closing a main window (the favorites window comes back when it was the last).
class StandInMainWindowController : public ZNTWindowControllerHandle,
                                    public std::enable_shared_from_this<StandInMainWindowController> {
public:
    // quit: the program's Quit command.
    static std::shared_ptr<StandInMainWindowController> create(const std::shared_ptr<ZNTObject> &item,
                                                               std::function<void()> quit);
    ~StandInMainWindowController() override;

    void showWindow() override;
    void performClose() override;
    QWidget *window() const { return m_window; }

    // The factory the server object makes main windows with.
    static ZNTWindowControllerFactory factory(std::function<void()> quit);

private:
    class Window;
    StandInMainWindowController() = default;
    void windowWillClose();

    QPointer<QWidget> m_window;
};
