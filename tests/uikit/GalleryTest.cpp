// Renders every control of the interface kit in the light and the dark palette,
// at 1x and 2x, into build/tests/gallery/ for a reviewer to look at, and checks
// that no control paints light areas of its own into the dark palette.
#include "UikitTestSupport.h"
#include "engine/Value.h"
#include "support/TestSupport.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/ConciseConstraints.h"
#include "uikit/ImageAndTextCell.h"
#include "uikit/KRVTableDataCell.h"
#include "uikit/ProgressSheet.h"
#include "uikit/SQLPreviewTextField.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTAutosizingTextField.h"
#include "uikit/ZNTBeveledTextField.h"
#include "uikit/ZNTBottomBarView.h"
#include "uikit/ZNTTableHeaderCell.h"
#include "uikit/ZNTTextView.h"
#include "uikit/ZNTTextViewCell.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <functional>
#include <gtest/gtest.h>

namespace {

QWidget *dataGrid() {
    auto *model = new QStandardItemModel(0, 4);
    model->setHorizontalHeaderLabels({"id", "title", "rating", "poster"});
    const Value rows[][4] = {
        {Value::fromInt(1), Value::fromString("Alien"), Value::fromDouble(8.5),
         Value::fromBytes(QByteArray(2048, 'x'))},
        {Value::fromInt(2), Value::fromString("A film whose title is long enough to need a second line and more"),
         Value::null(), Value::null()},
        {Value::fromInt(3), Value::fromString("Brazil"), Value::defaultMarker(), Value::multipleMarker()},
        {Value::fromInt(4), Value::fromBool(true), Value::fromBool(false), Value::fromString("poster.png")},
    };
    const int styles[] = {KRVTableDataCellStyleNormal, KRVTableDataCellStyleEdited, KRVTableDataCellStyleNewRow,
                          KRVTableDataCellStyleDeleted};
    for (int r = 0; r < 4; ++r) {
        QList<QStandardItem *> items;
        for (int c = 0; c < 4; ++c) {
            auto *item = new QStandardItem;
            item->setData(QVariant::fromValue(rows[r][c]), KRVTableDataCell::ValueRole);
            item->setData(c == 1 || r != 1 ? styles[r] : 0, KRVTableDataCell::CellStyleRole);
            items.append(item);
        }
        model->appendRow(items);
    }
    auto *view = new QTableView;
    model->setParent(view);
    view->setModel(model);
    auto *header = new ZNTTableHeaderCell(Qt::Horizontal, view);
    view->setHorizontalHeader(header);
    header->setSortMode(1, ZNTSortModeAscending);
    header->setSortMode(2, ZNTSortModeDescending);
    view->setItemDelegate(new KRVTableDataCell(view));
    view->verticalHeader()->setDefaultSectionSize(34);
    view->setColumnWidth(1, 220);
    view->selectRow(3);
    view->resize(560, 200);
    return view;
}

QWidget *fieldStrip() {
    auto *strip = new QWidget;
    auto *grid = new QVBoxLayout(strip);
    auto *labels = new QHBoxLayout;
    auto *values = new QHBoxLayout;
    labels->setSpacing(0);
    values->setSpacing(0);
    const QStringList names{"id", "name", "country"};
    for (int i = 0; i < names.size(); ++i) {
        auto *label = new ZNTBeveledTextField(ZNTBeveledTextFieldStyleLabel);
        label->setText(names[i]);
        auto *value =
            new ZNTBeveledTextField(i == 0 ? ZNTBeveledTextFieldStyleEditable : ZNTBeveledTextFieldStyleLabel);
        value->setText(i == 0 ? "42" : i == 1 ? "Ada" : "UK");
        label->setHasRoundTopLeft(i == 0);
        value->setHasRoundBottomLeft(i == 0);
        label->setHasRoundTopRight(i == names.size() - 1);
        value->setHasRoundBottomRight(i == names.size() - 1);
        labels->addWidget(label);
        values->addWidget(value);
    }
    auto *autosizing = new ZNTAutosizingTextField;
    autosizing->setText("grows as you type");
    grid->addLayout(labels);
    grid->addLayout(values);
    grid->addWidget(autosizing, 0, Qt::AlignLeft);
    strip->resize(320, 110);
    return strip;
}

QWidget *bars() {
    auto *page = new QWidget;
    auto *bar = new ZNTBottomBarView;
    bar->setFixedHeight(28);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 3, 6, 2);
    auto *button = new ZNTTerminalButton;
    button->setText("Save");
    auto *popup = new ZNTTerminalPopUpButton;
    popup->addItems({"100 rows", "1000 rows"});
    auto *segments = new ZNTTerminalSegmentedControl;
    segments->addSegment("Left");
    segments->addSegment("Right");
    segments->setSelected(0, true);
    auto *spinner = new ZNTAnimatingIndicator;
    row->addWidget(button);
    row->addWidget(popup);
    row->addWidget(segments);
    row->addStretch(1);
    row->addWidget(spinner);
    auto *content = new QLabel("content");
    content->setAlignment(Qt::AlignCenter);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    CC_addConstraintFormat(page, "H:|[%@]|", content);
    CC_addConstraintFormat(page, "H:|[%@]|", line);
    CC_addConstraintFormat(page, "H:|[%@]|", bar);
    CC_addConstraintFormat(page, "V:|[%@][%@(==1)][%@]|", content, line, bar);
    page->resize(420, 120);
    return page;
}

QWidget *textCell() {
    auto *cell = new ZNTTextViewCell;
    cell->textView()->setReadOnly(false);
    cell->textView()->setBlankTopRightCornerSize({19, 18});
    cell->setObjectValue(QStringLiteral("{\n  \"title\": \"Alien\",\n  \"year\": 1979\n}"));
    cell->resize(320, 110);
    return cell;
}

QWidget *iconList() {
    auto *model = new QStandardItemModel;
    QPixmap table(16, 16);
    table.fill(Qt::transparent);
    QPainter p(&table);
    p.setPen(QColor(0x3a, 0x6e, 0xc8));
    p.drawRect(1, 2, 13, 11);
    p.drawLine(1, 6, 14, 6);
    p.end();
    for (const char *name : {"films", "people", "ratings"})
        model->appendRow(new QStandardItem(QIcon(table), QString::fromLatin1(name)));
    auto *list = new QListView;
    model->setParent(list);
    list->setModel(model);
    list->setItemDelegate(new ImageAndTextCell(list));
    list->setCurrentIndex(model->index(1, 0));
    list->resize(200, 90);
    return list;
}

QWidget *alert() {
    Alert *a = Alert::alertWithMessageText("Do you want to truncate films?", "Truncate", "Cancel", {},
                                           "This removes every row of the table and can not be undone.");
    a->setKeyEquivalent(a->buttons().first(), QKeySequence(Qt::Key_T));
    a->setAccessoryView(new QCheckBox("Cascade"));
    return a;
}

QWidget *progress() {
    auto *sheet = ProgressSheet::showStatus(QStringLiteral("Analyzing films…"), nullptr);
    sheet->hide();
    return sheet;
}

QWidget *sqlField() {
    auto *field = new SQLPreviewTextField;
    field->setPlainText("UPDATE \"films\" SET \"title\" = 'Alien' WHERE \"id\" = 7;\n"
                        "DELETE FROM \"films\" WHERE \"id\" IN (8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20);");
    field->resize(field->sizeHint());
    return field;
}

QImage render(QWidget *widget, qreal scale) {
    widget->ensurePolished();
    if (widget->layout())
        widget->layout()->activate();
    QPixmap pixmap(widget->size() * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(widget->palette().color(QPalette::Window));
    widget->render(&pixmap);
    return pixmap.toImage();
}

// Share of 6x6 patches that are nearly all light: a light background, not
// light text.
double glare(const QImage &image) {
    const int patch = 6;
    qint64 patches = 0, light = 0;
    for (int py = 0; py + patch <= image.height(); py += patch) {
        for (int px = 0; px + patch <= image.width(); px += patch) {
            int bright = 0;
            for (int y = py; y < py + patch; ++y)
                for (int x = px; x < px + patch; ++x)
                    bright += QColor(image.pixel(x, y)).lightness() > 200;
            ++patches;
            light += bright > patch * patch * 8 / 10;
        }
    }
    return patches ? double(light) / double(patches) : 0;
}

} // namespace

TEST(Gallery, EveryControlRendersInBothPalettesWithoutGlareInTheDarkOne) {
    uikittest::useFixedLook();
    const std::pair<const char *, std::function<QWidget *()>> controls[] = {
        {"data-grid", dataGrid}, {"fields", fieldStrip}, {"bars-and-layout", bars}, {"text-view-cell", textCell},
        {"icon-list", iconList}, {"alert", alert},       {"progress", progress},    {"sql-field", sqlField},
    };
    for (const auto &[name, make] : controls) {
        for (const bool dark : {false, true}) {
            std::unique_ptr<QWidget> widget(make());
            if (dark)
                widget->setPalette(darkPalette());
            widget->show();
            for (const qreal scale : {1.0, 2.0}) {
                const QImage image = render(widget.get(), scale);
                const QString file = QStringLiteral("%1-%2%3.png")
                                         .arg(QLatin1String(name), dark ? "dark" : "light", scale > 1 ? "@2x" : "");
                EXPECT_TRUE(image.save(screenshotPath("uikit", file))) << file.toStdString();
                EXPECT_EQ(image.width(), int(widget->width() * scale)) << file.toStdString();
                if (dark) {
                    EXPECT_LT(glare(image), 0.01) << file.toStdString() << " paints light areas in a dark palette";
                }
            }
        }
    }
}
