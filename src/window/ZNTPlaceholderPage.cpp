#include "ZNTPlaceholderPage.h"

#include "actions/ZNTObjectImages.h"
#include "model/ZNTObject.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {
QString pageWord(ZNTObjectKind kind) {
    switch (kind) {
    case ZNTObjectKind::Server:
        return QStringLiteral("server");
    case ZNTObjectKind::Database:
        return QStringLiteral("database");
    case ZNTObjectKind::Table:
        return QStringLiteral("table");
    case ZNTObjectKind::View:
        return QStringLiteral("view");
    case ZNTObjectKind::MaterializedView:
        return QStringLiteral("materialized view");
    case ZNTObjectKind::Row:
        return QStringLiteral("row");
    case ZNTObjectKind::TableSchema:
        return QStringLiteral("structure");
    case ZNTObjectKind::QueryObject:
        return QStringLiteral("SQL query");
    default:
        return QStringLiteral("item");
    }
}
} // namespace

ZNTPlaceholderPage::ZNTPlaceholderPage(std::shared_ptr<ZNTObject> item, QObject *parent)
    : ZNTContentController(parent), m_item(std::move(item)) {}

QString ZNTPlaceholderPage::noteForItem(const ZNTObject &item) {
    return QStringLiteral("The %1 page is not built yet.").arg(pageWord(item.objectKind()));
}

QWidget *ZNTPlaceholderPage::makeView() {
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("placeholderPage"));
    page->setAutoFillBackground(true);
    page->setBackgroundRole(QPalette::Base);
    // Nothing on it takes input; the page itself holds the focus when given it.
    page->setFocusPolicy(Qt::StrongFocus);

    auto *icon = new QLabel;
    QIcon image = bigImageForObject(*m_item);
    const QSize size = image.isNull() ? QSize(48, 48) : QSize(64, 64);
    if (image.isNull())
        image = imageForObject(*m_item);
    icon->setPixmap(image.pixmap(size, page->devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);

    const QString name = m_item->name();
    auto *heading = new QLabel(name.isEmpty() ? QStringLiteral("Untitled") : name);
    heading->setObjectName(QStringLiteral("placeholderHeading"));
    heading->setTextFormat(Qt::PlainText); // the server's name for the item
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    heading->setFont(font);
    heading->setAlignment(Qt::AlignCenter);
    heading->setWordWrap(true);
    heading->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *note = new QLabel(noteForItem(*m_item));
    note->setObjectName(QStringLiteral("placeholderNote"));
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);

    auto *layout = new QVBoxLayout(page);
    layout->addStretch(2);
    layout->addWidget(icon);
    layout->addSpacing(8);
    layout->addWidget(heading);
    layout->addWidget(note);
    layout->addStretch(3);
    return page;
}
