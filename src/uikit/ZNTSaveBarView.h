#pragma once

#include "ZNTBottomBarView.h"

class QLabel;
class QPushButton;

// The bar a page shows while it holds unsaved changes: what is pending, then
// Discard, SQL Preview and Save. The page decides what each does and when the
// bar shows; the buttons only tell it (the preview button names itself, as
// the popover's anchor). Alt+D, Alt+P and Alt+S press them. main thread
class ZNTSaveBarView : public ZNTBottomBarView {
    Q_OBJECT
public:
    explicit ZNTSaveBarView(QWidget *parent = nullptr);

    // "2 new rows, 1 edited row"; shown as plain text.
    void setStatusText(const QString &text);
    QString statusText() const;
    // While a save runs: the buttons are disabled, the status stays.
    void setBusy(bool busy);

    QLabel *statusField() const { return m_status; }
    QPushButton *discardButton() const { return m_discard; }
    QPushButton *previewButton() const { return m_preview; }
    QPushButton *saveButton() const { return m_save; }

signals:
    void saveClicked();
    void discardClicked();
    void previewClicked(QWidget *sender);

private:
    void buildUi();
    void connectActions();

    QLabel *m_status = nullptr;
    QPushButton *m_discard = nullptr;
    QPushButton *m_preview = nullptr;
    QPushButton *m_save = nullptr;
};
