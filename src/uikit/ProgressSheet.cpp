#include "ProgressSheet.h"
#include "SheetFocus.h"
#include "platform/ProgramError.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

ProgressSheet::ProgressSheet(QWidget *parent) : QDialog(parent) {
    buildUi();
}

void ProgressSheet::buildUi() {
    setWindowTitle(QGuiApplication::applicationDisplayName());
    setAttribute(Qt::WA_DeleteOnClose);
    m_status = new QLabel;
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setFixedWidth(360);
    m_bar = new QProgressBar;
    m_bar->setRange(0, 0); // busy: the length of the work is not known
    m_bar->setTextVisible(false);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_ok = new QPushButton(QStringLiteral("OK"));
    m_ok->hide();
    for (QPushButton *b : {m_cancel, m_ok})
        b->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_ok);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_cancelHandler)
            m_cancelHandler();
    });
    connect(m_ok, &QPushButton::clicked, this, &ProgressSheet::endProgressSheet);
}

ProgressSheet *ProgressSheet::showStatus(const QString &text, QWidget *window, std::function<void()> cancelHandler) {
    requireMainThread("ProgressSheet::showStatus");
    auto *sheet = new ProgressSheet(window ? window->window() : nullptr);
    sheet->m_cancelHandler = std::move(cancelHandler);
    sheet->setStatus(text);
    sheet->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    sheet->m_cancel->setFocus();
    uv_returnFocusAfterSheet(sheet);
    sheet->open();
    return sheet;
}

void ProgressSheet::setStatus(const QString &text) {
    m_status->setText(text);
}

QString ProgressSheet::status() const {
    return m_status->text();
}

void ProgressSheet::completeWithStatus(const QString &text) {
    m_completed = true;
    setStatus(text);
    m_bar->setRange(0, 1);
    m_bar->setValue(1);
    m_cancel->hide();
    m_ok->show();
    m_ok->setDefault(true);
    m_ok->setFocus();
}

void ProgressSheet::endProgressSheet() {
    m_cancelHandler = nullptr;
    QDialog::done(m_completed ? Accepted : Rejected);
}

void ProgressSheet::reject() {
    // Escape while the work runs asks it to stop, as Cancel does; the sheet
    // stays until the work has ended.
    if (m_completed)
        endProgressSheet();
    else if (m_cancel->isVisible())
        m_cancel->click();
}
