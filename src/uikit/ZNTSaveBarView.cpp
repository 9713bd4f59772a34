#include "ZNTSaveBarView.h"

#include "ElidingLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

ZNTSaveBarView::ZNTSaveBarView(QWidget *parent) : ZNTBottomBarView(parent) {
    buildUi();
    connectActions();
}

void ZNTSaveBarView::buildUi() {
    setObjectName(QStringLiteral("saveBar"));
    m_status = new ElidingLabel;
    m_status->setObjectName(QStringLiteral("saveStatusField"));
    m_discard = new QPushButton(QStringLiteral("&Discard"));
    m_discard->setObjectName(QStringLiteral("discardButton"));
    m_discard->setToolTip(QStringLiteral("Throw away the unsaved changes"));
    m_preview = new QPushButton(QStringLiteral("SQL &Preview"));
    m_preview->setObjectName(QStringLiteral("previewButton"));
    m_preview->setToolTip(QStringLiteral("Show the SQL that saving runs"));
    m_save = new QPushButton(QStringLiteral("&Save"));
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->setToolTip(QStringLiteral("Save the changes to the database"));
    for (QPushButton *button : {m_discard, m_preview, m_save})
        button->setAutoDefault(false);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 8, 5);
    layout->setSpacing(6);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_discard);
    layout->addWidget(m_preview);
    layout->addSpacing(6);
    layout->addWidget(m_save);
}

void ZNTSaveBarView::connectActions() {
    connect(m_save, &QPushButton::clicked, this, &ZNTSaveBarView::saveClicked);
    connect(m_discard, &QPushButton::clicked, this, &ZNTSaveBarView::discardClicked);
    connect(m_preview, &QPushButton::clicked, this, [this] { emit previewClicked(m_preview); });
}

void ZNTSaveBarView::setStatusText(const QString &text) {
    m_status->setText(text);
    m_status->setToolTip(text);
}

QString ZNTSaveBarView::statusText() const {
    return m_status->text();
}

void ZNTSaveBarView::setBusy(bool busy) {
    for (QPushButton *button : {m_discard, m_preview, m_save})
        button->setEnabled(!busy);
}
