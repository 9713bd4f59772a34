#include "ZNTBooleanCell.h"

#include "ZNTColumnNameLabel.h"

#include "ZNTBooleanValue.h"
#include "engine/ZNTColumn.h"
#include "platform/NotificationCenter.h"
#include "uikit/BlockObservers.h"

#include <QComboBox>
#include <QLabel>
#include <QStandardItemModel>

using namespace ZNTBooleanValue;

ZNTBooleanCell::ZNTBooleanCell(QWidget *parent) : QWidget(parent) {
    buildUi();
    connect(m_popupButton, &QComboBox::activated, this,
            [this](int index) { updateValue(m_popupButton->itemData(index).toInt()); });
}

void ZNTBooleanCell::buildUi() {
    m_nameLabel = new ZNTColumnNameLabel(this);
    m_popupButton = new QComboBox(this);
    m_popupButton->setFocusPolicy(Qt::StrongFocus);
    m_popupButton->addItem(QStringLiteral("true"), int(TagTrue));
    m_popupButton->addItem(QStringLiteral("false"), int(TagFalse));
    m_popupButton->addItem(QStringLiteral("NULL"), int(TagNull));
    m_popupButton->addItem(QStringLiteral("DEFAULT"), int(TagDefault));
    m_popupButton->addItem(QStringLiteral("MULTIPLE"), int(TagMultiple));
    // Shown where the rows differ, never chosen.
    if (auto *model = qobject_cast<QStandardItemModel *>(m_popupButton->model()))
        model->item(4)->setEnabled(false);
}

void ZNTBooleanCell::setColumn(const std::shared_ptr<ZNTColumn> &column) {
    m_column = column;
    m_nameLabel->setText(column ? column->name() : QString());
}

void ZNTBooleanCell::setObjectValue(const Value &value) {
    m_value = value;
    select(tagForValue(value));
}

void ZNTBooleanCell::select(int tag) {
    m_popupButton->setCurrentIndex(m_popupButton->findData(tag));
}

int ZNTBooleanCell::selectedTag() const {
    return m_popupButton->currentIndex() < 0 ? int(TagNone) : m_popupButton->currentData().toInt();
}

void ZNTBooleanCell::setEditable(bool editable) {
    m_popupButton->setEnabled(editable);
}

QList<QWidget *> ZNTBooleanCell::keyViews() const {
    return {m_popupButton};
}

void ZNTBooleanCell::updateValue(int tag) {
    const std::optional<Value> value = valueForTag(tag);
    if (!value) {
        select(tagForValue(m_value));
        return;
    }
    m_value = *value;
    NotificationCenter::defaultCenter().post(ZNTRowValueChanged, unownedObject(static_cast<QWidget *>(this)));
}

void ZNTBooleanCell::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    const QFontMetrics metrics(m_nameLabel->font());
    m_nameLabel->setGeometry(6, 2, width() - 12, metrics.height());
    const QSize hint = m_popupButton->sizeHint();
    const int top = 2 + metrics.height() + 1;
    m_popupButton->setGeometry(10, top, std::min(std::max(hint.width(), 120), width() - 20),
                               std::min(hint.height(), std::max(18, height() - top - 1)));
}
