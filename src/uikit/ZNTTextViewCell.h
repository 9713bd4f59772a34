#pragma once

#include "platform/NotificationCenter.h"

#include <QMarginsF>
#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <vector>

class ZNTTextView;

// A row of a value list that shows a long, many-line value: a ZNTTextView
// inside fixed insets that grows with its text, and the row height it wants.
//
// Subclasses with other metrics pass their own to the constructor, and answer
// them from static functions of the same names:
//
//     static qreal defaultTextFieldMinHeight() { return 15; }
//     static QMarginsF defaultTextFieldInsets() { return {36, 3, 14, 6}; } // left, top, right, bottom
//     MyCell(QWidget *parent) : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {}
//
// Rows are reused: before a cell shows another value, its owner calls
// removeTextViewObservers() and registers afresh. main thread
class ZNTTextViewCell : public QWidget {
    Q_OBJECT
public:
    struct Metrics {
        qreal minHeight = 10;
        QMarginsF insets{14, 20, 14, 4}; // left, top, right, bottom
    };

    static qreal defaultTextFieldMinHeight() { return 10; }
    static QMarginsF defaultTextFieldInsets() { return {14, 20, 14, 4}; }
    static qreal defaultHeight() { return defaultHeight({defaultTextFieldMinHeight(), defaultTextFieldInsets()}); }
    static qreal defaultHeight(const Metrics &m) { return m.minHeight + m.insets.top() + m.insets.bottom(); }

    explicit ZNTTextViewCell(QWidget *parent = nullptr);
    ZNTTextViewCell(QWidget *parent, const Metrics &metrics);
    ~ZNTTextViewCell() override;

    // The value and its text: a string as it is, a row value as the server
    // would write it, anything else as QVariant writes it. An invalid value
    // keeps the text.
    void setObjectValue(const QVariant &value);
    QVariant objectValue() const { return m_objectValue; }

    ZNTTextView *textView() const { return m_textView; }
    QRectF textFieldFrame() const;
    // The height the row needs: the text view's height and the insets.
    qreal preferredHeight() const;
    void setTextFieldInsets(const QMarginsF &insets);
    QMarginsF textFieldInsets() const { return m_metrics.insets; }
    qreal textFieldMinHeight() const { return m_metrics.minHeight; }

    // A key the owner files the row's height under (the row editor: its row).
    void setRowHeightIdentifier(const QVariant &identifier) { m_rowHeightIdentifier = identifier; }
    QVariant rowHeightIdentifier() const { return m_rowHeightIdentifier; }

    // Who listens to this cell and its text view: connections of these receivers
    // to either, and notification observations handed over here, end together.
    void addTextViewObserver(QObject *receiver);
    void addTextViewObserver(ObserverToken token);
    QList<QObject *> textViewObservers() const;
    void removeTextViewObservers();

signals:
    // The text view grew or shrank: the row may need another height.
    void preferredHeightChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildUi();
    void placeTextView();

    Metrics m_metrics;
    ZNTTextView *m_textView = nullptr;
    QVariant m_objectValue;
    QVariant m_rowHeightIdentifier;
    QList<QPointer<QObject>> m_observers;
    std::vector<ObserverToken> m_tokens;
};
