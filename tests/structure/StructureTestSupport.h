// Shared by the structure page tests: a main window on a scratch database of
// the test server with the structure pages installed, typing into the page as
// a user does, the sheets it shows, and psql as the oracle.
#pragma once

#include "window/WindowTestSupport.h"

#include "model/ZNTTableSchema.h"
#include "structure/ConstraintPopoverController.h"
#include "structure/StructurePages.h"
#include "structure/ZNTConstraintView.h"
#include "structure/ZNTTableSchemaColumnView.h"
#include "structure/ZNTTableSchemaColumnsView.h"
#include "structure/ZNTTableSchemaController.h"
#include "structure/ZNTTableSchemaFields.h"
#include "uikit/AlertSheet.h"
#include "uikit/ZNTPopover.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUndoStack>

namespace structuretest {

using namespace std::chrono_literals;
using windowtest::BeepCounter;

// build/tests/screenshots/structure/<file>, in the light and the dark palette.
inline void saveShots(QWidget *widget, const QString &name) {
    pumpFor(30ms);
    EXPECT_TRUE(saveScreenshot(widget, QStringLiteral("structure"), name + QStringLiteral(".png")));
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    pumpFor(30ms);
    EXPECT_TRUE(saveScreenshot(widget, QStringLiteral("structure"), name + QStringLiteral("-dark.png")));
    QApplication::setPalette(before);
}

// The sheet up now (an Alert), once it has come up.
inline Alert *waitForSheet(std::chrono::milliseconds timeout = 10s) {
    Alert *alert = nullptr;
    pumpUntil([&] { return (alert = qobject_cast<Alert *>(QApplication::activeModalWidget())) != nullptr; }, timeout);
    return alert;
}

inline QPushButton *buttonTitled(QWidget *widget, const QString &title) {
    if (!widget)
        return nullptr;
    for (QPushButton *b : widget->findChildren<QPushButton *>())
        if (b->text() == title && b->isVisible())
            return b;
    return nullptr;
}

// Presses the button of the sheet up now and waits until it has gone.
inline bool answerSheet(const QString &button) {
    Alert *alert = waitForSheet();
    QPushButton *b = buttonTitled(alert, button);
    EXPECT_TRUE(b) << button.toStdString();
    if (!b)
        return false;
    b->click();
    return pumpUntil([&] { return QApplication::activeModalWidget() != alert; }, 5s);
}

inline void closeSheets() {
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->hide();
        modal->deleteLater();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Types text over what field holds and ends the editing with Return, as a user does.
inline void typeInto(QLineEdit *field, const QString &text) {
    field->setFocus(Qt::TabFocusReason);
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

// Types into a multi-line field and leaves it with Tab.
inline void typeInto(QPlainTextEdit *field, const QString &text) {
    field->setFocus(Qt::TabFocusReason);
    field->selectAll();
    QTest::keyClicks(field, text);
    field->clearFocus();
}

// A window on the scratch database, shown and active, with every page of the
// structure editor coming from its factory.
class StructureWindow {
public:
    explicit StructureWindow(const QString &database) {
        windowtest::resetWindowDefaults();
        StructurePages::install();
        server = connectedServer(database);
        window = ZNTWindowController::create(server->mainDatabase());
        window->resize(1100, 700);
        uikittest::activate(window.get());
    }
    ~StructureWindow() {
        closeSheets();
        window->close();
        window.reset();
        windowtest::flushDeferredDeletes();
        ZNTContentControllers::setFactory(ZNTPage::Structure, nullptr);
    }

    std::shared_ptr<ZNTTable> relation(const QString &name, const QString &schema = QStringLiteral("public"),
                                       ZNTTable::Type type = ZNTTable::ZNTTableTypeTable) const {
        return ZNTTable::createOfType(type, name, schema, server->mainDatabase());
    }

    // Shows the structure page of table and waits until its rows stand. A page
    // that does not come or does not load is fatal: call it inside
    // ASSERT_NO_FATAL_FAILURE.
    ZNTTableSchemaController *open(const std::shared_ptr<ZNTTable> &table) {
        window->navigateToItem(std::make_shared<ZNTTableSchema>(table));
        auto *page = shownPage();
        [&] {
            ASSERT_TRUE(page);
            if (table->hasName())
                ASSERT_TRUE(waitLoaded(page));
        }();
        return page;
    }
    ZNTTableSchemaController *shownPage() const {
        return dynamic_cast<ZNTTableSchemaController *>(window->mainViewController());
    }
    static bool waitLoaded(ZNTTableSchemaController *page) {
        return pumpUntil([&] {
            const auto metadata = page->table()->metadata();
            return metadata && metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateLoaded &&
                   page->edits().editedModel().tableName() == page->table()->name();
        });
    }
    // Saves with the save bar and waits until the save has ended.
    static bool save(ZNTTableSchemaController *page) {
        EXPECT_TRUE(page->saveBar() && page->saveBar()->isVisible());
        if (!page->saveBar())
            return false;
        QPointer<ZNTTableSchemaController> guard(page);
        page->saveBar()->saveButton()->click();
        return pumpUntil([&] { return !guard || !guard->isSaving(); }, 30s);
    }

    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTWindowController> window;
};

// The pills' titles of a row, a struck-through one marked with "-".
inline QStringList pillTitles(const ZNTTableSchemaColumnView *row) {
    QStringList titles;
    for (const ZNTConstraintView *pill : row->constraintViews())
        titles << (pill->editedConstraint()->markedForDeletion() ? "-" : "") + pill->text();
    return titles;
}

inline ZNTTableSchemaColumnView *rowNamed(ZNTTableSchemaController *page, const QString &name) {
    for (ZNTTableSchemaColumnView *row : page->columnViews())
        if (row->name() == name)
            return row;
    return nullptr;
}

} // namespace structuretest
