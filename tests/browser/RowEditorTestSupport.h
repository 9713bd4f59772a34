// Shared by the row editor's tests: a window that holds the editor as the
// table page's sidebar would, a delegate that records the edits, rows of
// tables of a scratch database, and screenshots.
#pragma once

#include "browser/ZNTRowViewController.h"
#include "model/CatalogTestSupport.h"
#include "model/ZNTConstraint.h"
#include "model/ZNTRow.h"
#include "uikit/Beep.h"
#include "uikit/UikitTestSupport.h"

#include <QApplication>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace roweditortest {

inline void PrintTo(const Value &value, std::ostream *os) {
    *os << int(value.kind()) << ":" << value.description().toStdString();
}

struct Edit {
    qsizetype column;
    Value value;
};

// The table page's side of the editor: every value it hands over.
class EditRecorder : public ZNTRowViewControllerDelegate {
public:
    void rowViewControllerDidEditColumn(ZNTSidebarRowEditor *, qsizetype column, const Value &newValue) override {
        edits.push_back({column, newValue});
    }
    std::vector<Edit> edits;
};

class BeepCounter {
public:
    BeepCounter() {
        setBeepHook([this] { ++count; });
    }
    ~BeepCounter() { setBeepHook(nullptr); }
    int count = 0;
};

// A window holding the editor's view, shown and active, as the detail
// sidebar holds it.
struct EditorHost {
    explicit EditorHost(QSize size = QSize(320, 560)) {
        uikittest::useFixedLook();
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(editor->editorView());
        editor->setDelegate(&recorder);
        window.resize(size);
        uikittest::activate(&window);
        EXPECT_TRUE(pumpUntil([&] { return window.isActiveWindow(); }));
    }
    ~EditorHost() { delete editor; }

    template <class Cell> Cell *cell(int index) {
        ZNTRowValueCell *cell = editor->cellAtRow(index, true);
        return cell ? dynamic_cast<Cell *>(cell) : nullptr;
    }
    // Lets queued height changes and layouts run.
    void settle() { pumpFor(std::chrono::milliseconds(60)); }

    QWidget window;
    ZNTRowViewController *editor = new ZNTRowViewController;
    EditRecorder recorder;
};

inline std::shared_ptr<ZNTColumn> column(const QString &name, qint64 oid, char category) {
    auto c = std::make_shared<ZNTColumn>(name);
    c->setTypeOid(oid);
    c->setTypeCategory(category);
    return c;
}

// A row without a table (as a query's row is, but editable).
inline std::shared_ptr<ZNTRow> looseRow(const ZNTColumnList &columns, const ZNTRowValues &values) {
    return ZNTRow::create(nullptr, columns, {}, {}, true, values);
}

// A scratch database with its server connected, and rows of its tables as
// the table page makes them.
struct Database {
    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server;

    // The relation with its structure loaded. A failed load is fatal: call it
    // inside ASSERT_NO_FATAL_FAILURE.
    std::shared_ptr<ZNTTable> loaded(const QString &name, ZNTTable::Type type = ZNTTable::ZNTTableTypeTable) {
        if (!server)
            server = connectedServer(db.name);
        auto table = ZNTTable::createOfType(type, name, QStringLiteral("public"), server->mainDatabase());
        assertLoaded(table->metadata());
        return table;
    }

    // The row of table that where picks, its values in display-column order.
    // Not finding it is fatal: call it inside ASSERT_NO_FATAL_FAILURE.
    std::shared_ptr<ZNTRow> row(const QString &name, const QString &where,
                                ZNTTable::Type type = ZNTTable::ZNTTableTypeTable) {
        std::shared_ptr<ZNTRow> found;
        readRow(name, where, type, &found);
        return found;
    }

private:
    void readRow(const QString &name, const QString &where, ZNTTable::Type type, std::shared_ptr<ZNTRow> *found) {
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loaded(name, type));
        QStringList columns;
        for (const auto &c : table->metadata()->displayColumns())
            columns << server->mainConnection()->quoteIdentifier(c->name());
        auto query =
            ZNTQuery::create(QStringLiteral("SELECT %1 FROM public.%2 WHERE %3").arg(columns.join(u','), name, where));
        runAndWait(query, server->mainConnection());
        ASSERT_FALSE(query->error());
        const auto results = query->results();
        ASSERT_FALSE(results.isEmpty());
        ASSERT_TRUE(results[0]->rows());
        ASSERT_GT(results[0]->rows()->rowCount(), 0);
        *found = ZNTRow::createWithTable(table, results[0]->rows()->rowAt(0));
    }
};

inline void saveShot(QWidget *widget, const QString &file) {
    pumpFor(std::chrono::milliseconds(60));
    EXPECT_TRUE(saveScreenshot(widget, QStringLiteral("browser"), file)) << file.toStdString();
}

inline void saveDarkShot(QWidget *widget, const QString &file) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    saveShot(widget, file);
    QApplication::setPalette(before);
}

} // namespace roweditortest
