// Saving the filter bar's filters to a file and loading them back through its
// window-modal file dialogs; Python's json on the other side.
#include "FilterTestSupport.h"
#include "browser/ZNTFilterController.h"
#include "browser/ZNTFilterFile.h"
#include "uikit/AlertSheet.h"
#include "uikit/UikitTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QVBoxLayout>

using namespace filtertest;
using namespace std::chrono_literals;

namespace {

class FilterBarFiles : public ::testing::Test {
protected:
    void SetUp() override {
        uikittest::useFixedLook();
        db.run("CREATE TABLE t (n int PRIMARY KEY, name text, flag boolean)");
        ASSERT_NO_FATAL_FAILURE(loaded = loadTable(db.name, "t"));
        controller = std::make_unique<ZNTFilterController>(loaded.table);
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(controller->view());
        window.resize(700, 300);
        uikittest::activate(&window);
    }

    // Opens the save or load dialog from the bar, chooses path in it and accepts.
    void chooseInPanel(bool save, const QString &path) {
        save ? controller->saveFilter() : controller->loadFilter();
        QFileDialog *panel = controller->filterPanel();
        ASSERT_TRUE(panel);
        EXPECT_TRUE(pumpUntil([&] { return QApplication::activeModalWidget() == panel; }, 5s));
        EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
        EXPECT_EQ(panel->parentWidget(), &window);
        EXPECT_EQ(panel->defaultSuffix(), "pfltr");
        const QString remembered = ZNTFilterController::rememberedFilterDirectory();
        EXPECT_EQ(panel->directory().absolutePath(), remembered.isEmpty() ? QDir::homePath() : remembered);
        if (save)
            EXPECT_EQ(QFileInfo(panel->selectedFiles().value(0)).fileName(), "Table Filter.pfltr");
        panel->selectFile(path);
        QMetaObject::invokeMethod(panel, "accept");
        pumpUntil([&] { return !controller->filterPanel(); }, 5s);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pumpFor(20ms);
    }

    // The alert sheet now open on the window, or null.
    Alert *openAlert() {
        pumpUntil([] { return qobject_cast<Alert *>(QApplication::activeModalWidget()) != nullptr; }, 5s);
        return qobject_cast<Alert *>(QApplication::activeModalWidget());
    }

    void dismiss(Alert *alert) {
        alert->buttons().first()->click();
        pumpUntil([] { return QApplication::activeModalWidget() == nullptr; }, 5s);
    }

    QStringList rowTexts() const {
        QStringList texts;
        for (ZNTFilterView *row : controller->filterViews())
            texts << row->popupButton()->currentText() + " " +
                         (row->detailOperatorPopupButton() ? row->detailOperatorPopupButton()->currentText() : "") +
                         " " + row->detailTextField()->text();
        return texts;
    }

    ScratchDatabase db;
    LoadedTable loaded;
    QWidget window;
    std::unique_ptr<ZNTFilterController> controller;
    // One folder for the whole program: the dialogs remember the last one for
    // as long as the program runs.
    static inline QTemporaryDir folder;
};

} // namespace

TEST_F(FilterBarFiles, SavedFiltersAreJSONAndLoadBackIntoTheRows) {
    ASSERT_TRUE(controller->loadDictionaryRepresentations(QVariantList{
        QVariantMap{{"type", 1}, {"columnName", "name"}, {"operator", 12}, {"stringValue", "ä \"b\""}},
        QVariantMap{{"type", 0}, {"stringValue", "n > 2"}, {"stringValue2", "kept"}},
    }));
    EXPECT_EQ(ZNTFilterController::rememberedFilterDirectory(), "");
    const QString path = folder.filePath("Table Filter.pfltr");
    chooseInPanel(true, path);
    EXPECT_EQ(ZNTFilterController::rememberedFilterDirectory(), folder.path());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray python = runPython(R"(
import json, sys
for f in json.load(sys.stdin):
    print(json.dumps(f, sort_keys=True, ensure_ascii=True))
)",
                                        {}, file.readAll());
    EXPECT_EQ(QString::fromUtf8(python),
              R"({"columnName": "name", "operator": 12, "stringValue": "\u00e4 \"b\"", "type": 1})"
              "\n"
              R"({"stringValue": "n > 2", "stringValue2": "kept", "type": 0})"
              "\n");

    // A file Python wrote replaces the rows; they are not run until asked.
    const QString other = folder.filePath("from-python.pfltr");
    runPython(R"(
import json, sys
json.dump([{"type": 3, "columnName": "flag", "operator": 6}, {"type": 1, "anyColumn": True, "stringValue": "q"}],
          open(sys.argv[1], "w"), indent=4)
)",
              {other});
    chooseInPanel(false, other);
    EXPECT_EQ(rowTexts(), QStringList({"flag is false ", "Any Column contains q"}));

    chooseInPanel(false, path);
    EXPECT_EQ(rowTexts(), QStringList({"name does not contain ä \"b\"", "SQL Expression  n > 2"}));
    EXPECT_EQ(controller->filters()[1]->stringValue2(), "kept");
}

TEST_F(FilterBarFiles, AFileThatIsNoListOfFiltersIsRefusedAndTheRowsStay) {
    controller->filterColumn(loaded.column("name"));
    const QStringList before = rowTexts();
    struct Case {
        QByteArray content;
        QString message;
        QString informative;
    };
    const QList<Case> cases = {
        {R"({"type": 1})", "Failed to read file", "The filter file could not be read."},
        {"[{\"type\": 1", "The filter file isn’t in the correct format.", ""},
        {QByteArray(40, '[') + QByteArray(40, ']'), "The filter file isn’t in the correct format.",
         "Its values are nested more than 16 deep."},
        {"[" + QByteArray(ZNTFilterFile::kMaxFileSize, ' ') + "]", "The filter file is too large.", ""},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.message.toStdString());
        const QString path = folder.filePath("bad.pfltr");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(test.content);
        file.close();
        chooseInPanel(false, path);
        Alert *alert = openAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->messageText(), test.message);
        if (!test.informative.isEmpty())
            EXPECT_EQ(alert->informativeText(), test.informative);
        dismiss(alert);
        EXPECT_EQ(rowTexts(), before);
    }
}

TEST_F(FilterBarFiles, AFailedSaveIsShownWithTheSystemsReason) {
    // A folder that is not there stops root too. (Not /proc: the dialog's file
    // model would read every process's entries there, and may wait on one.)
    const QString path = folder.path() + "/missing/filters.pfltr";
    chooseInPanel(true, path);
    Alert *alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->messageText(), "The file “filters.pfltr” couldn’t be saved.");
    EXPECT_FALSE(alert->informativeText().isEmpty());
    dismiss(alert);
    EXPECT_FALSE(QFile::exists(path));
}
