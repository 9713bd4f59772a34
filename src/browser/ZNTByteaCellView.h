#pragma once

#include "ZNTByteaValue.h"
#include "ZNTRowValueCell.h"

#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class QFileDialog;
class QLabel;
class ZNTColumnNameLabel;
class ZNTColumnNameLabel;
class QToolButton;

// The row editor's cell for a bytea column: what the value is (its file type
// and size), a preview when it is an image (else the type's icon), and
// buttons that load a file into the value, save the value as a file and set
// it NULL. Files are read and written off the GUI thread; a file over
// 500 MB is refused before it is read. Its height follows the preview.
// main thread
class ZNTByteaCellView : public QWidget, public ZNTRowValueCell {
    Q_OBJECT
public:
    static inline const QString Identifier = QStringLiteral("ByteaCell");

    explicit ZNTByteaCellView(QWidget *parent = nullptr);
    ~ZNTByteaCellView() override;

    QWidget *cellWidget() override { return this; }
    void setColumn(const std::shared_ptr<ZNTColumn> &column) override;
    std::shared_ptr<ZNTColumn> column() const override { return m_column; }
    void setObjectValue(const Value &value) override;
    Value objectValue() const override { return m_value; }
    void setEditable(bool editable) override;
    QList<QWidget *> keyViews() const override;

    void setRowHeightIdentifier(const QVariant &identifier) { m_rowHeightIdentifier = identifier; }
    QVariant rowHeightIdentifier() const { return m_rowHeightIdentifier; }
    // 65 points and the preview's height, scaled to the preview's width.
    qreal preferredHeight() const;

    bool isNull() const { return m_display.isNull; }
    QString titleString() const { return m_display.title; }
    QString sizeString() const { return m_display.size; }
    const ZNTByteaValue::FileType &fileType() const { return m_display.type; }
    // The decoded image of the value; null when it is none.
    QImage image() const { return m_image; }
    QRect imageViewFrame() const { return m_imageFrame; }

    // The buttons' actions. The panels are window-modal; chooseFile and
    // exportFile return theirs (null when there is none).
    QFileDialog *chooseFile();
    QFileDialog *exportFile();
    void makeNull();
    // Reads path into the value, as a confirmed open panel does, off the GUI
    // thread; while it reads, the load button stops it (cancelLoading), and
    // so does another value.
    void loadFile(const QString &path);
    void cancelLoading();
    // Writes data to path, as a confirmed save panel does with the value it
    // was opened for; done runs on the GUI thread when the file is written or
    // has failed.
    void saveFile(const QString &path, const QByteArray &data, std::function<void(bool written)> done = nullptr);
    bool isLoading() const { return m_load != nullptr; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildUi();
    void connectActions();
    void placeViews();
    QSizeF previewSize() const;
    void updateButtons();
    void showError(const ErrorPtr &error);
    void post(const QString &name);

    std::shared_ptr<ZNTColumn> m_column;
    Value m_value;
    ZNTByteaValue::Display m_display;
    QImage m_image;
    QIcon m_icon;
    QRect m_imageFrame;
    QVariant m_rowHeightIdentifier;
    ZNTColumnNameLabel *m_nameLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_sizeLabel = nullptr;
    QToolButton *m_loadButton = nullptr;
    QToolButton *m_saveButton = nullptr;
    QToolButton *m_nullButton = nullptr;
    QPointer<QFileDialog> m_panel;
    bool m_editable = false;
    // The cancel flag of the file being read; null when none is.
    std::shared_ptr<std::atomic<bool>> m_load;
    // Each new value starts a new generation: a file chosen for an older one
    // is not read (the cell may show another row by then).
    quint64 m_generation = 0;
};
