#include "AlertSheet.h"

#include "SheetFocus.h"

#include "platform/Error.h"
#include "platform/ProgramError.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {
const char *const kCodeProperty = "trellanAlertReturnCode";

QString plainTitle(const QString &title) {
    QString t = title;
    t.remove(QLatin1Char('&'));
    return t;
}
} // namespace

Alert::Alert(QWidget *parent) : QDialog(parent) {
    buildUi();
}

void Alert::buildUi() {
    setWindowTitle(QGuiApplication::applicationDisplayName());
    m_icon = new QLabel;
    m_icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = m_message->font();
    bold.setBold(true);
    m_message->setFont(bold);
    m_informative = new QLabel;
    m_informative->setWordWrap(true);
    m_informative->setTextFormat(Qt::PlainText);
    m_informative->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_informative->hide();

    m_texts = new QVBoxLayout;
    m_texts->addWidget(m_message);
    m_texts->addWidget(m_informative);
    auto *top = new QHBoxLayout;
    top->addWidget(m_icon);
    top->addLayout(m_texts, 1);
    m_buttonRow = new QHBoxLayout;
    m_buttonRow->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(m_buttonRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_message->setFixedWidth(360);
    m_informative->setFixedWidth(360);
    refreshIcon();
}

void Alert::refreshIcon() {
    QStyle::StandardPixmap pixmap = QStyle::SP_MessageBoxWarning;
    if (m_style == Style::Informational)
        pixmap = QStyle::SP_MessageBoxInformation;
    else if (m_style == Style::Critical)
        pixmap = QStyle::SP_MessageBoxCritical;
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    m_icon->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(QSize(size, size), devicePixelRatioF()));
}

Alert *Alert::alertWithMessageText(const QString &message, const QString &defaultButton, const QString &alternateButton,
                                   const QString &otherButton, const QString &informativeText) {
    auto *alert = new Alert;
    alert->setMessageText(message);
    alert->setInformativeText(informativeText);
    QPushButton *first =
        alert->addButton(defaultButton.isEmpty() ? QStringLiteral("OK") : defaultButton, DefaultReturn);
    alert->setDefaultButton(first);
    if (!alternateButton.isEmpty())
        alert->addButton(alternateButton, AlternateReturn);
    if (!otherButton.isEmpty())
        alert->addButton(otherButton, OtherReturn);
    return alert;
}

Alert *Alert::alertWithError(const Error &error) {
    auto *alert = new Alert;
    alert->setMessageText(error.localizedDescription());
    QString informative = error.localizedRecoverySuggestion();
    if (informative.isEmpty())
        informative = error.localizedFailureReason();
    alert->setInformativeText(informative);
    alert->addButtonWithTitle(QStringLiteral("OK"));
    return alert;
}

void Alert::setMessageText(const QString &text) {
    m_message->setText(text);
}

QString Alert::messageText() const {
    return m_message->text();
}

void Alert::setInformativeText(const QString &text) {
    m_informative->setText(text);
    m_informative->setVisible(!text.isEmpty());
}

QString Alert::informativeText() const {
    return m_informative->text();
}

void Alert::setAlertStyle(Style style) {
    m_style = style;
    refreshIcon();
}

QPushButton *Alert::addButtonWithTitle(const QString &title) {
    QPushButton *button = addButton(title, FirstButtonReturn + int(m_buttons.size()));
    if (m_buttons.size() == 1)
        setDefaultButton(button);
    return button;
}

QPushButton *Alert::addButton(const QString &title, int code) {
    auto *button = new QPushButton(title);
    // Only the default button answers Return; a focused button answers Space.
    button->setAutoDefault(false);
    button->setProperty(kCodeProperty, code);
    m_buttons.append(button);
    m_buttonRow->insertWidget(1, button);
    connect(button, &QPushButton::clicked, this, [this, button] { done(returnCode(button)); });
    if (!m_cancelExplicit && !m_cancel && plainTitle(title) == QLatin1String("Cancel"))
        m_cancel = button;
    return button;
}

void Alert::setReturnCode(QPushButton *button, int code) {
    if (!m_buttons.contains(button))
        throw ProgramError("IncorrectUsage", "Alert::setReturnCode: not a button of this alert");
    button->setProperty(kCodeProperty, code);
}

int Alert::returnCode(const QPushButton *button) const {
    return button->property(kCodeProperty).toInt();
}

void Alert::setDefaultButton(QPushButton *button) {
    for (QPushButton *b : std::as_const(m_buttons))
        b->setDefault(b == button);
}

QPushButton *Alert::defaultButton() const {
    for (QPushButton *b : m_buttons)
        if (b->isDefault())
            return b;
    return nullptr;
}

void Alert::setKeyEquivalent(QPushButton *button, const QKeySequence &key) {
    if (!m_buttons.contains(button))
        throw ProgramError("IncorrectUsage", "Alert::setKeyEquivalent: not a button of this alert");
    const bool isReturn = key == QKeySequence(Qt::Key_Return) || key == QKeySequence(Qt::Key_Enter);
    if (isReturn) {
        setDefaultButton(button);
        return;
    }
    if (button->isDefault())
        button->setDefault(false);
    auto *shortcut = new QShortcut(key, this);
    connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isVisible() && button->isEnabled())
            button->click();
    });
}

void Alert::setCancelButton(QPushButton *button) {
    m_cancel = button;
    m_cancelExplicit = true;
}

QPushButton *Alert::cancelButton() const {
    if (m_cancel)
        return m_cancel;
    return m_buttons.size() == 1 ? m_buttons.first() : nullptr;
}

void Alert::setAccessoryView(QWidget *view) {
    if (m_accessory) {
        m_texts->removeWidget(m_accessory);
        m_accessory->deleteLater();
    }
    m_accessory = view;
    if (view)
        m_texts->addWidget(view);
}

void Alert::reject() {
    // Escape and the close button end the sheet as Cancel would: never with an
    // alternate button's code (which on some sheets means "Discard Changes").
    if (QPushButton *cancel = cancelButton())
        done(returnCode(cancel));
}

namespace {
// Fields that take typing. A check box in the accessory ("Cascade") is not
// one: focused before anything was typed, its focus frame does not show, and a
// Space meant for a button would tick it.
bool takesTyping(const QWidget *w) {
    if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled())
        return false;
    if (auto *line = qobject_cast<const QLineEdit *>(w))
        return !line->isReadOnly();
    if (auto *combo = qobject_cast<const QComboBox *>(w))
        return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox *>(w) || qobject_cast<const QTextEdit *>(w) ||
           qobject_cast<const QPlainTextEdit *>(w);
}
} // namespace

void Alert::focusInitialButton() {
    // A field in the accessory (a password, a name) takes the typing first.
    if (m_accessory) {
        QList<QWidget *> candidates{m_accessory};
        candidates += m_accessory->findChildren<QWidget *>();
        for (QWidget *w : std::as_const(candidates)) {
            if (takesTyping(w)) {
                w->setFocus();
                return;
            }
        }
    }
    QPushButton *focus = defaultButton();
    if (!focus)
        focus = cancelButton();
    if (!focus && !m_buttons.isEmpty())
        focus = m_buttons.first();
    if (focus)
        focus->setFocus();
}

void Alert::compatibleBeginSheetModalForWindow(QWidget *window, std::function<void(int)> handler) {
    requireMainThread("Alert::compatibleBeginSheetModalForWindow");
    if (m_ended || isVisible())
        throw ProgramError("IncorrectUsage", "Alert::compatibleBeginSheetModalForWindow: the alert was shown before");
    if (m_buttons.isEmpty())
        addButtonWithTitle(QStringLiteral("OK"));
    m_handler = std::move(handler);
    if (window)
        setParent(window->window(), windowFlags() | Qt::Dialog);
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    connect(this, &QDialog::finished, this, [this](int code) {
        if (m_ended)
            return;
        m_ended = true;
        auto handler = std::move(m_handler);
        m_handler = nullptr;
        if (handler)
            handler(code);
        deleteLater();
    });
    orderTabChain();
    focusInitialButton();
    uv_returnFocusAfterSheet(this);
    open();
}

// Tab walks the accessory first, then the buttons as they stand, left to
// right; the buttons were made right to left.
void Alert::orderTabChain() {
    QList<QWidget *> chain;
    if (m_accessory) {
        QList<QWidget *> inner{m_accessory};
        inner += m_accessory->findChildren<QWidget *>();
        for (QWidget *w : std::as_const(inner))
            if (w->focusPolicy() & Qt::TabFocus)
                chain.append(w);
    }
    for (int i = 0; i < m_buttonRow->count(); ++i)
        if (QWidget *button = m_buttonRow->itemAt(i)->widget())
            chain.append(button);
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}
