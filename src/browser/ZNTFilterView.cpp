#include "ZNTFilterView.h"

#include "FilterBarModel.h"
#include "ZNTFilter.h"
#include "uikit/BarButtons.h"
#include "uikit/LineEditLength.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

namespace {
// The arrow keys open a popup of the bar instead of stepping through its items:
// each choice rebuilds the row and moves the focus to its value field, so a
// step would leave the popup after one item.
class ArrowsOpenPopup : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const bool arrow = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down;
            if (arrow && !(key->modifiers() & ~Qt::KeypadModifier)) {
                static_cast<QComboBox *>(watched)->showPopup();
                return true;
            }
        }
        return false;
    }
};

void openPopupOnArrows(QComboBox *popup) {
    popup->installEventFilter(new ArrowsOpenPopup(popup));
}
} // namespace

ZNTFilterSetView::ZNTFilterSetView(QWidget *parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ZNTFilterSetView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QPalette &pal = palette();
    const bool dark = pal.color(QPalette::Window).lightness() < 128;
    // Light: grey 0.93 inside a 1-pixel white edge; dark: a little above the
    // window colour, with a faint light edge.
    const QColor body = dark ? pal.color(QPalette::Window).lighter(112) : QColor::fromRgbF(0.93f, 0.93f, 0.93f);
    QColor edge = dark ? pal.color(QPalette::Light) : QColor(Qt::white);
    if (dark)
        edge.setAlphaF(0.35f);
    const QColor line = dark ? pal.color(QPalette::Shadow) : QColor::fromRgbF(0.8f, 0.8f, 0.8f);
    painter.fillRect(rect(), body);
    painter.fillRect(QRect(0, 0, width(), 1), edge);
    painter.fillRect(QRect(0, 0, 1, height()), edge);
    painter.fillRect(QRect(width() - 1, 0, 1, height()), edge);
    painter.fillRect(QRect(0, height() - 1, width(), 1), line);
}

ZNTFilterView::ZNTFilterView(QWidget *parent) : QWidget(parent) {
    buildUi();
}

void ZNTFilterView::buildUi() {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_popupButton = new QComboBox;
    m_popupButton->setAccessibleName(tr("Filter on"));
    m_popupButton->setToolTip(tr("The column to test, any column, or a condition written in SQL"));
    // One width in every row, so that the rows line up; long names are elided.
    m_popupButton->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_popupButton->setMinimumContentsLength(16);
    // In a narrow window the popups give up width before the value field does.
    m_popupButton->setMinimumWidth(m_popupButton->fontMetrics().averageCharWidth() * 10);
    m_popupButton->addItem(tr("Any Column"), FilterBarModel::AnyColumnTag);
    m_popupButton->addItem(tr("SQL Expression"), FilterBarModel::ExpressionTag);
    m_popupButton->insertSeparator(2);
    openPopupOnArrows(m_popupButton);
    layout->addWidget(m_popupButton);

    m_detailViewContainer = new QWidget;
    auto *detailLayout = new QHBoxLayout(m_detailViewContainer);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_detailViewContainer, 1);

    m_removeButton = new ZNTTerminalButton;
    m_removeButton->setText(QStringLiteral("−"));
    m_removeButton->setToolTip(tr("Remove this filter"));
    m_removeButton->setAccessibleName(tr("Remove filter"));
    m_addButton = new ZNTTerminalButton;
    m_addButton->setText(QStringLiteral("+"));
    m_addButton->setToolTip(tr("Add a filter below this one"));
    m_addButton->setAccessibleName(tr("Add filter"));
    for (QToolButton *button : {m_removeButton, m_addButton}) {
        button->setFixedWidth(button->sizeHint().height() + 4);
        layout->addWidget(button);
    }
}

void ZNTFilterView::clearDetailView() {
    // The detail view may be what sent the action that replaces it: it goes
    // once that action is over.
    if (m_detailView) {
        m_detailView->hide();
        m_detailView->deleteLater();
    }
    m_detailView = nullptr;
    m_detailOperatorPopupButton = nullptr;
    m_detailTextField = nullptr;
    m_detailViewNibName.clear();
}

void ZNTFilterView::loadDetailView(const QString &nibName, const QList<int> &operators) {
    clearDetailView();
    if (nibName.isEmpty())
        return;
    m_detailViewNibName = nibName;
    m_detailView = new QWidget;
    auto *layout = new QHBoxLayout(m_detailView);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!operators.isEmpty()) {
        m_detailOperatorPopupButton = new QComboBox;
        m_detailOperatorPopupButton->setAccessibleName(tr("Comparison"));
        m_detailOperatorPopupButton->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        m_detailOperatorPopupButton->setMinimumContentsLength(14);
        for (int op : operators)
            m_detailOperatorPopupButton->addItem(FilterBarModel::operatorTitle(op), op);
        openPopupOnArrows(m_detailOperatorPopupButton);
        layout->addWidget(m_detailOperatorPopupButton);
    }
    m_detailTextField = new QLineEdit;
    uv_showStoredValue(m_detailTextField);
    m_detailTextField->setMinimumWidth(m_detailTextField->fontMetrics().averageCharWidth() * 14);
    if (nibName == ZNTFilter::ExpressionDetailView) {
        m_detailTextField->setPlaceholderText(tr("SQL condition, for example price > 10"));
        m_detailTextField->setAccessibleName(tr("SQL condition"));
    } else {
        m_detailTextField->setPlaceholderText(tr("Value"));
        m_detailTextField->setAccessibleName(tr("Value"));
    }
    // A hidden field keeps its room, so that the rows of the bar line up.
    QSizePolicy policy = m_detailTextField->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_detailTextField->setSizePolicy(policy);
    layout->addWidget(m_detailTextField, 1);
    m_detailViewContainer->layout()->addWidget(m_detailView);
}
