#include "ZNTPreferenceWindowController.h"

#include "DefaultSettings.h"
#include "TqbUpdateChecker.h"
#include "platform/ProgramError.h"
#include "platform/UserDefaults.h"
#include "uikit/CloseKeys.h"

#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
const QString kDontCountRows = QStringLiteral("DontCountRows");
const QString kShowSystemCatalogsInSidebar = QStringLiteral("ShowSystemCatalogsInSidebar");
} // namespace

ZNTPreferenceWindowController &ZNTPreferenceWindowController::sharedController() {
    requireMainThread("ZNTPreferenceWindowController::sharedController");
    static auto *shared =
        new ZNTPreferenceWindowController(TqbUpdateChecker::sharedChecker(), UserDefaults::standard());
    return *shared;
}

ZNTPreferenceWindowController::ZNTPreferenceWindowController(std::shared_ptr<TqbUpdateChecker> checker,
                                                             UserDefaults &defaults, QWidget *parent)
    : QWidget(parent, Qt::Window), m_checker(std::move(checker)), m_defaults(defaults) {
    buildUi();
    connectActions();
    noteUpdateStatusChanged();
}

void ZNTPreferenceWindowController::buildUi() {
    setWindowTitle(tr("Preferences"));
    m_automaticUpdateCheck = new QCheckBox(tr("Check for updates automatically"), this);
    m_lastUpdateCheck = new QLabel(this);
    m_lastUpdateCheck->setWordWrap(true);
    m_lastUpdateCheck->setTextFormat(Qt::PlainText); // a failure can quote the server
    m_lastUpdateCheck->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lastUpdateCheck->setForegroundRole(QPalette::PlaceholderText);
    m_trustStandardAuthorities =
        new QCheckBox(tr("Trust certificates signed by standard certificate authorities"), this);
    m_rowsPerPage = new QSpinBox(this);
    m_rowsPerPage->setRange(1, 1000000);
    m_rowsPerPage->setSingleStep(100);
    m_rowsPerPage->setGroupSeparatorShown(true);
    m_rowsPerPage->setKeyboardTracking(false);
    m_countRows = new QCheckBox(tr("Count the rows of a table when it opens"), this);
    m_showSystemCatalogs = new QCheckBox(tr("Show system catalogs in the sidebar"), this);

    auto *updates = new QGroupBox(tr("Updates"), this);
    auto *updatesLayout = new QVBoxLayout(updates);
    updatesLayout->addWidget(m_automaticUpdateCheck);
    updatesLayout->addWidget(m_lastUpdateCheck);
    auto *security = new QGroupBox(tr("Security"), this);
    auto *securityLayout = new QVBoxLayout(security);
    securityLayout->addWidget(m_trustStandardAuthorities);
    auto *browsing = new QGroupBox(tr("Browsing"), this);
    auto *browsingLayout = new QFormLayout(browsing);
    browsingLayout->addRow(tr("Rows per page:"), m_rowsPerPage);
    browsingLayout->addRow(m_countRows);
    browsingLayout->addRow(m_showSystemCatalogs);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(updates);
    layout->addWidget(security);
    layout->addWidget(browsing);
    layout->addStretch();
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    auto *close = new QAction(this);
    close->setShortcuts(uv_closeKeys());
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

void ZNTPreferenceWindowController::connectActions() {
    bind(m_automaticUpdateCheck, DefaultSettings::AutomaticUpdateCheck);
    bind(m_trustStandardAuthorities, DefaultSettings::TrustStandardCertificateAuthorities);
    bind(m_rowsPerPage, DefaultSettings::TableViewRowsPerPage);
    bind(m_countRows, kDontCountRows, true);
    bind(m_showSystemCatalogs, kShowSystemCatalogsInSidebar);
    m_statusObserver = NotificationCenter::defaultCenter().observe(
        TqbUpdateStatusChangedNotification, nullptr, [this](const Notification &) { noteUpdateStatusChanged(); });
}

void ZNTPreferenceWindowController::bind(QCheckBox *box, const QString &key, bool inverted) {
    auto show = [this, box, key, inverted] {
        QSignalBlocker block(box);
        box->setChecked(m_defaults.boolForKey(key) != inverted);
    };
    show();
    connect(&m_defaults, &UserDefaults::changed, box, [show, key](const QString &changed) {
        if (changed == key)
            show();
    });
    connect(box, &QCheckBox::toggled, this,
            [this, key, inverted](bool checked) { m_defaults.setObject(checked != inverted, key); });
}

void ZNTPreferenceWindowController::bind(QSpinBox *box, const QString &key) {
    auto show = [this, box, key] {
        QSignalBlocker block(box);
        box->setValue(int(qBound(qint64(box->minimum()), m_defaults.integerForKey(key), qint64(box->maximum()))));
    };
    show();
    connect(&m_defaults, &UserDefaults::changed, box, [show, key](const QString &changed) {
        if (changed == key)
            show();
    });
    connect(box, &QSpinBox::valueChanged, this, [this, key](int value) { m_defaults.setObject(value, key); });
}

void ZNTPreferenceWindowController::showWindow() {
    show();
    raise();
    activateWindow();
}

void ZNTPreferenceWindowController::noteUpdateStatusChanged() {
    m_lastUpdateCheck->setText(lastUpdateCheckText(m_checker->lastErrorMessage(), m_checker->lastUpdateDate()));
}
