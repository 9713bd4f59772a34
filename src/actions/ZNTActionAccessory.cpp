#include "ZNTActionAccessory.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 350;
constexpr int kTextIndent = 19;
constexpr int kOptionGap = 10;

// Small, word-wrapped and dimmer than the sheet's own text, in any palette.
QLabel *explanationLabel(const QString &text) {
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFixedWidth(kWidth - kTextIndent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.65);
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}
} // namespace

ZNTActionAccessory::ZNTActionAccessory(QWidget *parent) : QWidget(parent) {
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    setFixedWidth(kWidth);
}

void ZNTActionAccessory::addOption(QWidget *control, const QString &explanation) {
    auto *option = new QWidget;
    auto *column = new QVBoxLayout(option);
    // Every option above the first keeps a gap to the one below it.
    column->setContentsMargins(0, 0, 0, m_layout->count() ? kOptionGap : 0);
    column->setSpacing(2);
    column->addWidget(control);
    auto *text = new QHBoxLayout;
    text->setContentsMargins(kTextIndent, 0, 0, 0);
    text->addWidget(explanationLabel(explanation));
    column->addLayout(text);
    m_layout->insertWidget(0, option);
}

QCheckBox *ZNTActionAccessory::addCheckBox(const QString &title, const QString &explanation) {
    auto *box = new QCheckBox(title);
    box->setChecked(false);
    addOption(box, explanation);
    return box;
}

QButtonGroup *ZNTActionAccessory::addRadioGroup(const QStringList &titles, const QString &explanation) {
    auto *rows = new QWidget;
    auto *layout = new QVBoxLayout(rows);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *group = new QButtonGroup(rows);
    for (int i = 0; i < titles.size(); ++i) {
        auto *button = new QRadioButton(titles[i]);
        group->addButton(button, i);
        layout->addWidget(button);
    }
    if (!titles.isEmpty())
        group->button(0)->setChecked(true);
    addOption(rows, explanation);
    return group;
}
