#pragma once

#include <QUndoCommand>
#include <functional>

// One undoable step of the table page ("Edit Row", "Delete 3 rows"): what the
// step does and what undoes it, each a call of the page's primitives. The
// first redo is the step itself (QUndoStack::push runs it); later ones redo it
// after an undo, which may select and scroll differently.
class ZNTTableEditCommand : public QUndoCommand {
public:
    using Redo = std::function<void(bool first)>;
    using Undo = std::function<void()>;

    ZNTTableEditCommand(const QString &name, Redo redo, Undo undo)
        : QUndoCommand(name), m_redo(std::move(redo)), m_undo(std::move(undo)) {}

    void redo() override {
        m_redo(m_first);
        m_first = false;
    }
    void undo() override { m_undo(); }

private:
    Redo m_redo;
    Undo m_undo;
    bool m_first = true;
};
