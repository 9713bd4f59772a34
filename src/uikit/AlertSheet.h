#pragma once

#include <QDialog>
#include <QKeySequence>
#include <functional>

class Error;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

// An alert shown as a sheet on a window: a message, an informative text, an
// optional accessory widget and buttons that each end it with a return code.
//
//     Alert *alert = Alert::alertWithMessageText(tr("Do you want to analyze %1?").arg(name),
//                                                tr("Analyze"), tr("Cancel"), {}, explanation);
//     alert->compatibleBeginSheetModalForWindow(window, [=](int code) {
//         if (code == Alert::DefaultReturn) ...
//     });
//
// Return codes: the buttons of alertWithMessageText() answer DefaultReturn (1),
// AlternateReturn (0) and OtherReturn (-1); buttons added with
// addButtonWithTitle() answer FirstButtonReturn, FirstButtonReturn + 1, ... unless
// setReturnCode() gives them another code.
//
// Keys: Return presses the default button only. The first button is the default
// until setDefaultButton() or setKeyEquivalent() says otherwise, so a destructive
// button must be given another key equivalent (or setDefaultButton(nullptr)).
// Escape and the window's close button answer the Cancel button's code: the
// button set with setCancelButton(), else the one titled "Cancel", else the only
// button; with none of these they do nothing. The sheet opens with the focus in
// the accessory's first text field, else on the default button, else on Cancel;
// Tab goes through the accessory, then the buttons from left to right.
//
// The alert deletes itself after its handler has run. main thread
class Alert : public QDialog {
    Q_OBJECT
public:
    enum class Style { Warning, Informational, Critical };
    static constexpr int DefaultReturn = 1;
    static constexpr int AlternateReturn = 0;
    static constexpr int OtherReturn = -1;
    static constexpr int FirstButtonReturn = 1000;

    explicit Alert(QWidget *parent = nullptr);

    // Empty button titles leave that button out; an empty default title gives "OK".
    static Alert *alertWithMessageText(const QString &message, const QString &defaultButton,
                                       const QString &alternateButton, const QString &otherButton,
                                       const QString &informativeText);
    // The error's description as message, its recovery suggestion (else its
    // failure reason) as informative text, one "OK" button.
    static Alert *alertWithError(const Error &error);

    void setMessageText(const QString &text);
    QString messageText() const;
    void setInformativeText(const QString &text);
    QString informativeText() const;
    void setAlertStyle(Style style);
    Style alertStyle() const { return m_style; }

    // Buttons are laid out right to left in the order they are added.
    QPushButton *addButtonWithTitle(const QString &title);
    QList<QPushButton *> buttons() const { return m_buttons; }
    void setReturnCode(QPushButton *button, int code);
    int returnCode(const QPushButton *button) const;

    // Return presses this button; nullptr: Return presses nothing.
    void setDefaultButton(QPushButton *button);
    QPushButton *defaultButton() const;
    // A key (with modifiers) that presses the button. Return makes the button
    // the default; any other key takes the default role (and Return) away from it.
    void setKeyEquivalent(QPushButton *button, const QKeySequence &key);
    void setCancelButton(QPushButton *button);
    QPushButton *cancelButton() const;

    // Shown between the texts and the buttons; the alert takes ownership.
    void setAccessoryView(QWidget *view);
    QWidget *accessoryView() const { return m_accessory; }

    // Shows the alert window-modal on window (open(), never exec()); without a
    // window, application-modal. handler, when given, runs exactly once with the
    // code of the button that ended the sheet, after the sheet has closed.
    void compatibleBeginSheetModalForWindow(QWidget *window, std::function<void(int)> handler);

    void reject() override;

private:
    void buildUi();
    void refreshIcon();
    void focusInitialButton();
    void orderTabChain();
    QPushButton *addButton(const QString &title, int code);

    Style m_style = Style::Warning;
    QLabel *m_icon = nullptr;
    QLabel *m_message = nullptr;
    QLabel *m_informative = nullptr;
    QVBoxLayout *m_texts = nullptr;
    QHBoxLayout *m_buttonRow = nullptr;
    QWidget *m_accessory = nullptr;
    QList<QPushButton *> m_buttons;
    QPushButton *m_cancel = nullptr;
    bool m_cancelExplicit = false;
    std::function<void(int)> m_handler;
    bool m_ended = false;
};
