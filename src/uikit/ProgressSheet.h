#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

// The sheet a long piece of work shows on its window: a status line, a busy bar
// and Cancel; when the work is done, the done text and OK.
//
//     QPointer<ProgressSheet> sheet =
//         ProgressSheet::showStatus(tr("Analyzing %1…").arg(name), window, [query] { query->cancel(); });
//     ... when the work has ended:
//     sheet->completeWithStatus(tr("Analyzed %1.").arg(name)); // stays until OK
//     or sheet->endProgressSheet();                             // closes at once
//
// Cancel (and Escape) only calls the cancel handler: the work ends the sheet
// when it has stopped. After completeWithStatus(), OK, Return and Escape close it.
// The sheet deletes itself when it closes; hold it in a QPointer. main thread
class ProgressSheet : public QDialog {
    Q_OBJECT
public:
    // Window-modal on window (application-modal without one), opened with open().
    static ProgressSheet *showStatus(const QString &text, QWidget *window, std::function<void()> cancelHandler = {});

    void setStatus(const QString &text);
    QString status() const;
    void completeWithStatus(const QString &text);
    void endProgressSheet();
    bool isCompleted() const { return m_completed; }

    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *okButton() const { return m_ok; }
    QProgressBar *progressBar() const { return m_bar; }

    void reject() override;

private:
    explicit ProgressSheet(QWidget *parent);
    void buildUi();

    QLabel *m_status = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_ok = nullptr;
    std::function<void()> m_cancelHandler;
    bool m_completed = false;
};
