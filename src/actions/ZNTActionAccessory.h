#pragma once

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QVBoxLayout;

// The options of a confirmation sheet: each control stands just above its
// explanation, and options are stacked from the bottom up, so the first one
// added is the lowest. main thread
class ZNTActionAccessory : public QWidget {
    Q_OBJECT
public:
    explicit ZNTActionAccessory(QWidget *parent = nullptr);

    // A check box, off, with its explanation under it.
    QCheckBox *addCheckBox(const QString &title, const QString &explanation);
    // Radio buttons of one group, the first selected; the group's ids are the
    // rows, from 0.
    QButtonGroup *addRadioGroup(const QStringList &titles, const QString &explanation);

private:
    void addOption(QWidget *control, const QString &explanation);

    QVBoxLayout *m_layout = nullptr;
};
