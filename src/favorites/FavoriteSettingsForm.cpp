#include "FavoriteSettingsForm.h"

#include "FavoritePadDelegate.h"
#include "ZNTFavorite.h"
#include "platform/SystemInfo.h"
#include "uikit/LineEditLength.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <cmath>
#include <memory>

namespace {

// The label colours by index, as the favorite draws them.
const char *const kColorNames[] = {"No Colour", "Red", "Orange", "Yellow", "Teal", "Green", "Blue", "Purple"};

// The label colours of favorites (hue, saturation, brightness), index 1..7.
QColor labelColor(int index) {
    static const float hsb[8][3] = {{0, 0, 0},          {1.0f, 1.0f, 0.8f}, {0.1f, 1.0f, 0.8f},  {0.15f, 1.0f, 0.9f},
                                    {0.5f, 1.0f, 0.4f}, {0.3f, 0.9f, 0.7f}, {0.62f, 1.0f, 0.9f}, {0.85f, 1.0f, 0.9f}};
    if (index < 1 || index > 7)
        return {};
    return QColor::fromHsvF(std::fmod(hsb[index][0], 1.0f), hsb[index][1], hsb[index][2]);
}

QIcon swatch(const QColor &color, const QPalette &palette) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette.color(QPalette::Text), 1.5));
    painter.setBrush(color.isValid() ? QBrush(color) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QRectF(4, 4, 24, 24));
    return QIcon(pixmap);
}

// What the form's pad is tinted with: the favorite's label colour, faint, or
// without one a trace of the text colour.
QColor padTint(const QColor &label, const QPalette &palette) {
    if (label.isValid()) {
        QColor tint = label;
        tint.setAlphaF(0.25f);
        return tint;
    }
    const QColor text = palette.color(QPalette::Text);
    return QColor::fromRgbF(text.redF(), text.greenF(), text.blueF(), 0.07f);
}

// A port, or nothing for the default one. An empty field must count as
// finished input: a line edit neither reports the end of editing nor passes
// Return on while its validator calls the text incomplete, so clearing a port
// would leave the favorite on the old one. A port that cannot be (0) is
// cleared when the field is left.
class PortValidator : public QIntValidator {
public:
    explicit PortValidator(QObject *parent) : QIntValidator(1, 65535, parent) {}
    State validate(QString &input, int &pos) const override {
        if (input.trimmed().isEmpty())
            return Acceptable;
        return QIntValidator::validate(input, pos);
    }
    void fixup(QString &input) const override {
        int pos = 0;
        if (QIntValidator::validate(input, pos) != Acceptable)
            input.clear();
    }
};

// A cleared host field goes back to the default host, as its placeholder says.
QString hostValue(const QString &text) {
    const QString host = text.trimmed();
    return host.isEmpty() ? QString() : host;
}

std::optional<int> portValue(const QString &text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    return ok && port > 0 ? std::optional<int>(port) : std::nullopt;
}

QString portText(std::optional<int> port) {
    return port && *port > 0 ? QString::number(*port) : QString();
}

// A path that does not fit loses its middle, not its end; a text up to
// leastText fits whole.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QString leastText) : m_leastText(std::move(leastText)) {}
    QSize minimumSizeHint() const override {
        const QMargins margins = contentsMargins();
        return {fontMetrics().horizontalAdvance(m_leastText) + margins.left() + margins.right(),
                QLabel::minimumSizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()), foregroundRole());
    }

private:
    QString m_leastText;
};

const char *const kNoKeyText = "None (password or agent)";

QLabel *label(const QString &text, QWidget *buddy) {
    auto *l = new QLabel(text);
    l->setBuddy(buddy);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

} // namespace

FavoriteSettingsForm::FavoriteSettingsForm(ZNTFavorite *favorite, Actions actions, QWidget *parent)
    : QWidget(parent), m_favorite(favorite), m_actions(std::move(actions)) {
    setAutoFillBackground(false);
    buildUi();
    // The favorite's values are shown whole, and written back whole.
    for (QLineEdit *field : findChildren<QLineEdit *>())
        uv_showStoredValue(field);
    connectActions();
    showValues();
}

FavoriteSettingsForm::~FavoriteSettingsForm() = default;

void FavoriteSettingsForm::buildUi() {
    m_nickname = new QLineEdit;
    m_nickname->setPlaceholderText(QStringLiteral("Name shown in the list"));
    m_color = new QComboBox;
    m_color->setAccessibleName(QStringLiteral("Label colour"));
    m_host = new QLineEdit;
    m_host->setPlaceholderText(QStringLiteral("localhost"));
    m_port = new QLineEdit;
    m_port->setValidator(new PortValidator(m_port));
    m_port->setPlaceholderText(QStringLiteral("5432"));
    m_port->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    m_user = new QLineEdit;
    m_password = new QLineEdit;
    m_password->setEchoMode(QLineEdit::Password);
    m_savePassword = new QCheckBox(QStringLiteral("Save &password"));
    m_database = new QLineEdit;
    m_showAll = new QCheckBox(QStringLiteral("Show &all databases"));
    m_sshEnabled = new QCheckBox(QStringLiteral("Connect through an &SSH tunnel"));

    // One grid for the server and the tunnel, so that their labels and fields
    // line up in the same columns.
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(4);
    grid->addWidget(label(QStringLiteral("Na&me:"), m_nickname), 0, 0);
    grid->addWidget(m_nickname, 0, 1);
    grid->addWidget(m_color, 0, 2, 1, 2);
    grid->addWidget(label(QStringLiteral("Hos&t:"), m_host), 1, 0);
    grid->addWidget(m_host, 1, 1);
    grid->addWidget(label(QStringLiteral("P&ort:"), m_port), 1, 2);
    grid->addWidget(m_port, 1, 3);
    grid->addWidget(label(QStringLiteral("&User:"), m_user), 2, 0);
    grid->addWidget(m_user, 2, 1);
    grid->addWidget(label(QStringLiteral("Pass&word:"), m_password), 3, 0);
    grid->addWidget(m_password, 3, 1);
    grid->addWidget(m_savePassword, 3, 2, 1, 2);
    grid->addWidget(label(QStringLiteral("&Database:"), m_database), 4, 0);
    grid->addWidget(m_database, 4, 1);
    grid->addWidget(m_showAll, 4, 2, 1, 2);
    grid->setColumnStretch(1, 1);

    grid->addWidget(m_sshEnabled, 5, 1, 1, 3);
    addSshRows(grid, 6);

    // The buttons close the form, below the tunnel's fields when they show.
    m_done = new QPushButton(QStringLiteral("Done"));
    m_done->setObjectName(QStringLiteral("endEditing"));
    m_connect = new QPushButton(QStringLiteral("&Connect"));
    m_connect->setObjectName(QStringLiteral("connectFavorite"));
    // Why the keyring refused a password, beside the buttons that end editing.
    m_keychainFailure = new QLabel;
    m_keychainFailure->setObjectName(QStringLiteral("keychainFailure"));
    m_keychainFailure->setTextFormat(Qt::PlainText); // it quotes the keyring
    m_keychainFailure->setWordWrap(true);
    m_keychainFailure->setVisible(false);
    m_keychainFailure->setForegroundRole(QPalette::WindowText); // in the list, a label's text would follow Base
    QFont small = m_keychainFailure->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_keychainFailure->setFont(small);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(m_keychainFailure, 1);
    buttons->addStretch();
    buttons->addWidget(m_done);
    buttons->addWidget(m_connect);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);
    setFocusProxy(m_nickname);
}

void FavoriteSettingsForm::addSshRows(QGridLayout *grid, int row) {
    m_sshHost = new QLineEdit;
    m_sshPort = new QLineEdit;
    m_sshPort->setValidator(new PortValidator(m_sshPort));
    m_sshPort->setPlaceholderText(QStringLiteral("22"));
    m_sshPort->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    m_sshUser = new QLineEdit;
    m_sshPassword = new QLineEdit;
    m_sshPassword->setEchoMode(QLineEdit::Password);
    m_saveSshPassword = new QCheckBox(QStringLiteral("Sa&ve SSH password"));
    m_keyPath = new ElidedLabel(QString::fromLatin1(kNoKeyText));
    m_chooseKey = new QPushButton(QStringLiteral("Choose &Key…"));
    m_removeKey = new QPushButton(QStringLiteral("Remove Ke&y"));

    auto add = [&](QWidget *widget, int r, int column, int columns = 1) {
        grid->addWidget(widget, row + r, column, 1, columns);
        m_sshWidgets.append(widget);
    };
    add(label(QStringLiteral("SSH host:"), m_sshHost), 0, 0);
    add(m_sshHost, 0, 1);
    add(label(QStringLiteral("Port:"), m_sshPort), 0, 2);
    add(m_sshPort, 0, 3);
    add(label(QStringLiteral("SSH use&r:"), m_sshUser), 1, 0);
    add(m_sshUser, 1, 1);
    add(label(QStringLiteral("SSH password:"), m_sshPassword), 2, 0);
    add(m_sshPassword, 2, 1);
    add(m_saveSshPassword, 2, 2, 2);
    add(label(QStringLiteral("Private key:"), m_chooseKey), 3, 0);
    add(m_keyPath, 3, 1, 3);
    auto *keyButtons = new QWidget;
    auto *keyLayout = new QHBoxLayout(keyButtons);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    keyLayout->addWidget(m_chooseKey);
    keyLayout->addWidget(m_removeKey);
    keyLayout->addStretch();
    add(keyButtons, 4, 1, 3);
}

void FavoriteSettingsForm::setSshRowsVisible(bool visible) {
    for (QWidget *widget : std::as_const(m_sshWidgets))
        widget->setVisible(visible);
}

// Only what the user typed goes to the favorite: passing through a field
// leaves its value alone (an unset host reads "localhost"; written back as an
// empty text it would name the favorite "").
void FavoriteSettingsForm::bindText(QLineEdit *field, std::function<void(const QString &)> store) {
    auto typed = std::make_shared<bool>(false);
    connect(field, &QLineEdit::textEdited, this, [typed] { *typed = true; });
    connect(field, &QLineEdit::editingFinished, this, [field, store, typed] {
        if (!std::exchange(*typed, false))
            return;
        store(field->text());
    });
}

void FavoriteSettingsForm::connectActions() {
    ZNTFavorite *f = m_favorite;
    bindText(m_nickname, [f](const QString &t) { f->setNickname(t); });
    bindText(m_host, [f](const QString &t) { f->setHost(hostValue(t)); });
    bindText(m_port, [f](const QString &t) { f->setPort(portValue(t)); });
    bindText(m_user, [f](const QString &t) { f->setUser(t); });
    bindText(m_password, [f](const QString &t) { f->setPassword(t); });
    bindText(m_database, [f](const QString &t) { f->setDatabase(t); });
    bindText(m_sshHost, [f](const QString &t) { f->setSshHost(hostValue(t)); });
    bindText(m_sshPort, [f](const QString &t) { f->setSshPort(portValue(t)); });
    bindText(m_sshUser, [f](const QString &t) { f->setSshUser(t); });
    bindText(m_sshPassword, [f](const QString &t) { f->setSshPassword(t); });
    connect(m_savePassword, &QCheckBox::toggled, this, [f](bool on) { f->setSavePassword(on); });
    connect(m_saveSshPassword, &QCheckBox::toggled, this, [f](bool on) { f->setSaveSshPassword(on); });
    connect(m_showAll, &QCheckBox::toggled, this, [f](bool on) { f->setShowAllDatabases(on); });
    connect(m_color, &QComboBox::activated, this, [f](int index) { f->setColorIndex(index); });
    connect(m_sshEnabled, &QCheckBox::toggled, this, [this, f](bool on) {
        f->setSshEnabled(on);
        setSshRowsVisible(on);
        if (m_actions.sshEnabledChanged)
            m_actions.sshEnabledChanged();
    });
    connect(m_done, &QPushButton::clicked, this, [this] {
        commitEditing();
        if (m_actions.done)
            m_actions.done();
    });
    connect(m_connect, &QPushButton::clicked, this, [this] {
        commitEditing();
        if (m_actions.connect)
            m_actions.connect();
    });
    connect(m_chooseKey, &QPushButton::clicked, this, [this] {
        if (m_actions.chooseKey)
            m_actions.chooseKey();
    });
    connect(m_removeKey, &QPushButton::clicked, this, [this] {
        if (m_actions.removeKey)
            m_actions.removeKey();
    });
    m_observer = NotificationCenter::defaultCenter().observe(ZNTFavorite::DidChangeNotification, m_favorite,
                                                             [this](const Notification &) { showValues(); });
}

// Shows the favorite's values; the field being typed in keeps the user's text.
void FavoriteSettingsForm::showValues() {
    const ZNTFavorite &f = *m_favorite;
    const QString login = SystemInfo::loginName();
    auto show = [](QLineEdit *field, const QString &text) {
        if (!field->hasFocus() && field->text() != text)
            field->setText(text);
    };
    show(m_nickname, f.nickname());
    show(m_host, f.host());
    show(m_port, portText(f.port()));
    show(m_user, f.user());
    show(m_password, f.password());
    show(m_database, f.database());
    show(m_sshHost, f.sshHost());
    show(m_sshPort, portText(f.sshPort()));
    show(m_sshUser, f.sshUser());
    show(m_sshPassword, f.sshPassword());
    m_user->setPlaceholderText(login);
    m_sshUser->setPlaceholderText(login);
    m_database->setPlaceholderText(f.user().isEmpty() ? login : f.user());
    const QSignalBlocker blockers[] = {QSignalBlocker(m_savePassword), QSignalBlocker(m_saveSshPassword),
                                       QSignalBlocker(m_showAll), QSignalBlocker(m_sshEnabled),
                                       QSignalBlocker(m_color)};
    m_savePassword->setChecked(f.savePassword());
    m_saveSshPassword->setChecked(f.saveSshPassword());
    m_showAll->setChecked(f.showAllDatabases());
    m_sshEnabled->setChecked(f.isSshEnabled());
    setSshRowsVisible(f.isSshEnabled());
    if (m_color->count() == 0) {
        for (int i = 0; i < 8; ++i)
            m_color->addItem(QString::fromLatin1(kColorNames[i]));
    }
    for (int i = 0; i < 8; ++i)
        m_color->setItemIcon(i, swatch(labelColor(i), palette()));
    m_color->setCurrentIndex(std::clamp(f.colorIndex(), 0, 7));
    const QString keyPath = f.sshPrivateKeyPath();
    m_keyPath->setText(keyPath.isEmpty() ? QString::fromLatin1(kNoKeyText) : keyPath);
    m_keyPath->setToolTip(keyPath);
    m_removeKey->setEnabled(!keyPath.isEmpty());
    m_keychainFailure->setText(f.keychainFailureString);
    m_keychainFailure->setToolTip(f.keychainFailureString);
    m_keychainFailure->setVisible(!f.keychainFailureString.isEmpty());
    QPalette warning = m_keychainFailure->palette();
    warning.setColor(QPalette::WindowText, FavoritePadDelegate::errorColor(palette()));
    m_keychainFailure->setPalette(warning);
    showPadColour();
}

// The pad, tinted over the list's base, is the form's window colour: the
// style draws the outlines of its boxes and fields to read against it.
void FavoriteSettingsForm::showPadColour() {
    const QColor base = palette().color(QPalette::Base), tint = padTint(m_favorite->color(), palette());
    const float a = tint.alphaF();
    auto mix = [a](float under, float over) { return under + (over - under) * a; };
    const QColor pad = QColor::fromRgbF(mix(base.redF(), tint.redF()), mix(base.greenF(), tint.greenF()),
                                        mix(base.blueF(), tint.blueF()));
    if (palette().color(QPalette::Window) == pad)
        return;
    QPalette p = palette();
    p.setColor(QPalette::Window, pad);
    setPalette(p);
}

void FavoriteSettingsForm::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        showPadColour();
}

void FavoriteSettingsForm::commitEditing() {
    if (auto *field = qobject_cast<QLineEdit *>(focusWidget()); field && isAncestorOf(field))
        emit field->editingFinished();
}

void FavoriteSettingsForm::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        commitEditing();
        if (m_actions.done)
            m_actions.done();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & Qt::ControlModifier)) {
        m_connect->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FavoriteSettingsForm::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    painter.fillPath(path, padTint(m_favorite->color(), palette()));
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
    painter.drawPath(path);
}
