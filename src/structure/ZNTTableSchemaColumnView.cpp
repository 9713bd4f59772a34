// A column row of the structure page: making it, reading its column back,
// its actions, layout and drawing. Its constraint strip is in
// ZNTTableSchemaColumnViewConstraints.cpp.
#include "ZNTTableSchemaColumnView.h"

#include "ZNTTableSchemaFields.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "uikit/Beep.h"
#include "uikit/WindowEditing.h"

#include <QEvent>
#include <QPainter>

namespace {
constexpr int kTop = 9;         // above the fields
constexpr int kRightMargin = 8; // after the last part
constexpr int kMinimumFieldWidth = 120;
constexpr int kCommentLeft = 25;
} // namespace

ZNTTableSchemaColumnView::ZNTTableSchemaColumnView(std::shared_ptr<ZNTTable> table, const ZNTColumnDefinition &column,
                                                   std::shared_ptr<ZNTColumnDefinition> originalColumn,
                                                   const ZNTConstraintList &constraints,
                                                   std::optional<ZNTConstraintList> originalConstraints,
                                                   QWidget *parent)
    : QWidget(parent), m_table(std::move(table)), m_originalColumn(std::move(originalColumn)),
      m_originalConstraints(originalConstraints.value_or(ZNTConstraintList())) {
    buildUi(column, constraints);
    connectActions();
}

void ZNTTableSchemaColumnView::buildUi(const ZNTColumnDefinition &column, const ZNTConstraintList &constraints) {
    setObjectName(QStringLiteral("columnRow"));
    setFocusPolicy(Qt::NoFocus);
    m_titleField = new ZNTTableSchemaColumnViewTextFieldView(this);
    m_titleField->setAccessibleName(QStringLiteral("Column Name"));
    m_typeField = new ZNTTableSchemaColumnViewTextFieldView(this);
    m_typeField->setAccessibleName(QStringLiteral("Type"));
    m_defaultPopup = new DefaultPopUpButton(this);
    m_defaultField = new ZNTTableSchemaColumnViewTextFieldView(this);
    m_defaultField->setAccessibleName(QStringLiteral("Default Value"));
    m_constraintsView = new QWidget(this);
    m_constraintsView->installEventFilter(this);
    m_constraintButton = new ZNTConstraintButton(m_constraintsView);
    if (m_table->type() == ZNTTable::ZNTTableTypeTable)
        m_deleteButton = new ZNTColumnDeleteButton(this);
    m_commentField = new CommentTextField(this);
    setEditedColumn(column);
    defaultFieldChanged();
    setEditedConstraints(constraints);
    // What a view's columns are comes from its definition.
    const auto type = m_table->type();
    m_titleField->setReadOnly(type == ZNTTable::ZNTTableTypeView);
    m_typeField->setReadOnly(type != ZNTTable::ZNTTableTypeTable);
    m_constraintButton->setVisible(type == ZNTTable::ZNTTableTypeTable);
    for (QWidget *field : {static_cast<QWidget *>(m_titleField), static_cast<QWidget *>(m_typeField),
                           static_cast<QWidget *>(m_defaultField), static_cast<QWidget *>(m_defaultPopup)})
        field->installEventFilter(this);
}

void ZNTTableSchemaColumnView::connectActions() {
    for (ZNTTableSchemaColumnViewTextFieldView *field : {m_titleField, m_typeField, m_defaultField}) {
        connect(field, &ZNTTableSchemaColumnViewTextFieldView::didBeginEditing, this, [this] { beganEditing(); });
        connect(field, &ZNTTableSchemaColumnViewTextFieldView::didEndEditing, this, [this] { endedEditing(); });
    }
    connect(m_commentField, &CommentTextField::didBeginEditing, this, [this] { beganEditing(); });
    connect(m_commentField, &CommentTextField::didEndEditing, this, [this] { endedEditing(); });
    connect(m_defaultField, &QLineEdit::textEdited, this, [this] { defaultFieldChanged(); });
    connect(m_defaultPopup, &DefaultPopUpButton::activated, this, [this] { defaultPopupChanged(); });
    connect(m_constraintButton, &ZNTConstraintButton::addConstraint, this,
            [this](ZNTConstraint::Type type) { addConstraint(type); });
    if (m_deleteButton)
        connect(m_deleteButton, &QAbstractButton::clicked, this, [this] { deleteColumn(); });
}

void ZNTTableSchemaColumnView::beganEditing() {
    if (m_delegate)
        m_delegate->tableSchemaColumnViewDidBeginEditing(this);
}

void ZNTTableSchemaColumnView::endedEditing() {
    if (m_delegate)
        m_delegate->tableSchemaColumnViewDidEndEditing(this);
}

QWidget *ZNTTableSchemaColumnView::firstView() const {
    return m_titleField;
}

// --- the column -----------------------------------------------------------------

QString ZNTTableSchemaColumnView::name() const {
    return m_titleField->text();
}

QString ZNTTableSchemaColumnView::typeName() const {
    return m_typeField->text();
}

QString ZNTTableSchemaColumnView::comment() const {
    return m_commentField->text();
}

bool ZNTTableSchemaColumnView::isFilledByServer() const {
    return m_filledByServer.isGenerated() || m_filledByServer.identity() != 0;
}

SQLExpression ZNTTableSchemaColumnView::defaultExpression() const {
    if (isFilledByServer())
        return SQLExpression();
    const auto kind = SQLExpression::Kind(m_defaultPopup->currentIndex());
    const auto database = m_table->database();
    const auto connection = database ? database->connection() : nullptr;
    if (kind == SQLExpression::SQLExpressionKindNoDefault || !connection)
        return SQLExpression();
    return SQLExpression::withString(m_defaultField->text(), kind, *connection);
}

std::shared_ptr<ZNTColumnDefinition> ZNTTableSchemaColumnView::editedColumn() const {
    auto column =
        std::make_shared<ZNTColumnDefinition>(name(), typeName(), comment(), defaultExpression(), m_markedForDeletion);
    column->setIdentity(m_filledByServer.identity());
    column->setGenerated(m_filledByServer.generated());
    column->setGenerationExpression(m_filledByServer.generationExpression());
    return column;
}

// "GENERATED ALWAYS AS (a * 2) STORED", as the column was made; empty for a
// column the server does not fill itself.
QString ZNTTableSchemaColumnView::generationClause(const ZNTColumn &column) {
    if (column.isGenerated())
        return QStringLiteral("GENERATED ALWAYS AS (%1)%2")
            .arg(column.generationExpression(),
                 column.generated() == 's' ? QStringLiteral(" STORED") : QStringLiteral(" VIRTUAL"));
    if (column.identity() == 'a')
        return QStringLiteral("GENERATED ALWAYS AS IDENTITY");
    if (column.identity() == 'd')
        return QStringLiteral("GENERATED BY DEFAULT AS IDENTITY");
    return QString();
}

void ZNTTableSchemaColumnView::setEditedColumn(const ZNTColumnDefinition &column) {
    m_titleField->setText(column.name());
    m_typeField->setText(column.typeName());
    m_filledByServer = ZNTColumn();
    m_filledByServer.setIdentity(column.identity());
    m_filledByServer.setGenerated(column.generated());
    m_filledByServer.setGenerationExpression(column.generationExpression());
    // A generated or identity column has no default to edit: what the server
    // fills it with shows in the default's place, read-only, so that no save
    // turns it into SET DEFAULT.
    const QString generation = generationClause(column);
    m_defaultField->setText(generation.isEmpty() ? column.defaultExpression().string() : generation);
    m_defaultField->setReadOnly(!generation.isEmpty());
    m_defaultField->setToolTip(generation.isEmpty() ? QString()
                                                    : QStringLiteral("The server fills this column itself."));
    m_defaultPopup->setCurrentIndex(int(column.defaultExpression().kind()));
    m_defaultPopup->setEnabled(generation.isEmpty());
    if (!generation.isEmpty())
        m_defaultPopup->setText(column.isGenerated() ? QStringLiteral("generated") : QStringLiteral("identity"));
    m_commentField->setText(column.comment());
    m_markedForDeletion = column.markedForDeletion();
    partsChanged();
    if (m_deleteButton)
        m_deleteButton->setToolTip(m_markedForDeletion ? QStringLiteral("Keep Column")
                                                       : QStringLiteral("Delete Column"));
    update();
}

// --- actions --------------------------------------------------------------------

void ZNTTableSchemaColumnView::deleteColumn() {
    if (!uv_endEditing(window())) {
        beep();
        return;
    }
    m_markedForDeletion = !m_markedForDeletion;
    if (m_deleteButton)
        m_deleteButton->setToolTip(m_markedForDeletion ? QStringLiteral("Keep Column")
                                                       : QStringLiteral("Delete Column"));
    update();
    endedEditing();
}

void ZNTTableSchemaColumnView::defaultFieldChanged() {
    if (!isFilledByServer() && !m_defaultField->text().isEmpty() &&
        m_defaultPopup->currentIndex() == SQLExpression::SQLExpressionKindNoDefault)
        m_defaultPopup->setCurrentIndex(SQLExpression::SQLExpressionKindConstant);
}

void ZNTTableSchemaColumnView::defaultPopupChanged() {
    uv_endEditing(window());
    if (m_defaultPopup->currentIndex() == SQLExpression::SQLExpressionKindNoDefault)
        m_defaultField->clear();
    m_defaultField->setFocus(Qt::OtherFocusReason);
    endedEditing();
}

// --- layout ---------------------------------------------------------------------

void ZNTTableSchemaColumnView::partsChanged() {
    m_natural.reset();
    updateGeometry();
}

ZNTColumnRowWidths ZNTTableSchemaColumnView::naturalWidths() const {
    if (m_natural)
        return *m_natural;
    ZNTColumnRowWidths widths;
    widths.name = std::max(kMinimumFieldWidth, m_titleField->sizeHint().width());
    widths.type = std::max(kMinimumFieldWidth, m_typeField->sizeHint().width());
    widths.defaultPopup = m_defaultPopup->sizeHint().width();
    widths.defaultField = std::max(kMinimumFieldWidth, m_defaultField->sizeHint().width());
    int strip = 0;
    for (const ZNTConstraintView *pill : m_constraintViews)
        strip += pill->sizeHint().width() + 5;
    if (!m_constraintButton->isHidden())
        strip += m_constraintButton->sizeHint().width();
    widths.strip = strip;
    m_natural = widths;
    return widths;
}

void ZNTTableSchemaColumnView::setColumnWidths(const ZNTColumnRowWidths &widths) {
    m_widths = widths;
    layOutChildren();
}

int ZNTTableSchemaColumnView::fieldHeight() const {
    return m_titleField->sizeHint().height();
}

int ZNTTableSchemaColumnView::typeLeft() const {
    return kNameLeft + m_widths.name + kGap;
}

int ZNTTableSchemaColumnView::defaultLeft() const {
    return typeLeft() + m_widths.type + kGap;
}

int ZNTTableSchemaColumnView::stripLeft() const {
    return defaultLeft() + m_widths.defaultPopup + kPopupGap + m_widths.defaultField + kGap;
}

QSize ZNTTableSchemaColumnView::sizeHint() const {
    const ZNTColumnRowWidths w = m_widths.name ? m_widths : naturalWidths();
    int width = kNameLeft + w.name + kGap + w.type + kGap + w.defaultPopup + kPopupGap + w.defaultField + kGap +
                w.strip + kRightMargin;
    if (m_deleteButton)
        width += m_deleteButton->sizeHint().width() + kRightMargin;
    return QSize(width, heightForWidth(width));
}

int ZNTTableSchemaColumnView::heightForWidth(int width) const {
    const int fields = kTop + fieldHeight();
    const int comment = m_commentField->heightForWidth(std::max(1, width - kCommentLeft - kRightMargin));
    return std::max(fields + 5, fields + 7 + comment - 2);
}

QRect ZNTTableSchemaColumnView::boxRect() const {
    const int left = kNameLeft - 4;
    const int right = stripLeft() + m_widths.strip;
    return QRect(QPoint(left, kTop - 5), QPoint(right, kTop + fieldHeight() + 5));
}

void ZNTTableSchemaColumnView::layOutChildren() {
    const int h = fieldHeight();
    auto centred = [&](QWidget *widget, int x, int width, int height) {
        widget->setGeometry(x, kTop + (h - height) / 2, width, height);
    };
    m_titleField->setGeometry(kNameLeft, kTop, m_widths.name, h);
    m_typeField->setGeometry(typeLeft(), kTop, m_widths.type, h);
    centred(m_defaultPopup, defaultLeft(), m_widths.defaultPopup, m_defaultPopup->sizeHint().height());
    m_defaultField->setGeometry(defaultLeft() + m_widths.defaultPopup + kPopupGap, kTop, m_widths.defaultField, h);
    // The pills and the add button are as tall as each other.
    centred(m_constraintsView, stripLeft(), m_widths.strip, m_constraintButton->sizeHint().height());
    layOutStrip();
    if (m_deleteButton)
        centred(m_deleteButton, stripLeft() + m_widths.strip + kRightMargin, m_deleteButton->sizeHint().width(),
                m_deleteButton->sizeHint().height());
    const int commentWidth = std::max(1, width() - kCommentLeft - kRightMargin);
    m_commentField->setGeometry(kCommentLeft, kTop + h + 7, commentWidth, m_commentField->heightForWidth(commentWidth));
    update();
}

void ZNTTableSchemaColumnView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    layOutChildren();
}

bool ZNTTableSchemaColumnView::event(QEvent *event) {
    if (event->type() == QEvent::LayoutRequest) {
        // A field grew or shrank with its text, or the comment with its lines.
        layOutChildren();
        partsChanged();
        return true;
    }
    return QWidget::event(event);
}

bool ZNTTableSchemaColumnView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_constraintsView && event->type() == QEvent::LayoutRequest) {
        layOutStrip();
        partsChanged();
    } else if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        update(); // the focus ring follows
    }
    return QWidget::eventFilter(watched, event);
}

// --- drawing --------------------------------------------------------------------

void ZNTTableSchemaColumnView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(boxRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor frame = palette().color(QPalette::Text);
    frame.setAlphaF(0.25f);
    painter.setPen(QPen(frame, 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(box, 3, 3);

    // Four compartments: name, type, default (kind and value), constraints.
    const qreal separators[] = {kNameLeft + m_widths.name + kGap / 2.0, typeLeft() + m_widths.type + kGap / 2.0,
                                stripLeft() - kGap / 2.0};
    QColor line = palette().color(QPalette::Text);
    line.setAlphaF(0.2f);
    painter.setPen(QPen(line, 1));
    for (qreal x : separators)
        painter.drawLine(QPointF(std::floor(x) + 0.5, box.top() + 4), QPointF(std::floor(x) + 0.5, box.bottom() - 4));

    QWidget *focus = focusWidget();
    qreal from = -1, to = -1;
    if (focus == m_titleField && !m_titleField->isReadOnly()) {
        from = box.left();
        to = separators[0];
    } else if (focus == m_typeField && !m_typeField->isReadOnly()) {
        from = separators[0];
        to = separators[1];
    } else if (focus == m_defaultField) {
        from = separators[1];
        to = separators[2];
    }
    if (from >= 0 && focus->hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(
            QRectF(QPointF(std::floor(from) + 1, box.top() + 1), QPointF(std::floor(to), box.bottom() - 1)), 3, 3);
    }
    if (m_markedForDeletion) {
        QColor red(220, 40, 40);
        red.setAlphaF(0.5f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(red);
        painter.drawRect(QRectF(box.left() - 3, box.center().y() - 1, box.width() + 6, 2));
    }
}
