#pragma once

#include "ZNTStoredObject.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// One SQL text run through a favorite, with the time it was recorded. The text
// is kept zlib-compressed when that is shorter than its UTF-8 bytes, else plain.
// main thread.
class ZNTQueryHistoryElement : public ZNTStoredObject {
public:
    qint64 favoriteID() const override { return m_favoriteID; }
    // Microseconds since 1970-01-01 UTC.
    qint64 dateMicroseconds() const { return m_date; }
    QDateTime date() const;
    void setDateMicroseconds(qint64 date);

    // The text, plain or decompressed (within Compression::uncompressDeclared's
    // bound); "" when it cannot be had.
    QString text() const;
    void setText(const QString &text);
    // The first 1000 characters, every run of white space shown as one blank.
    QString previewText() const;

    // The newest entry of the same favorite dated strictly before this one, and
    // the oldest dated strictly after it; an entry of the same date is neither.
    std::shared_ptr<ZNTQueryHistoryElement> previousHistoryElement() const;
    std::shared_ptr<ZNTQueryHistoryElement> nextHistoryElement() const;

    // How the text is stored: plain (storedText) or compressed
    // (compressedText with the byte length of the text).
    QString storedText() const { return m_text; }
    QByteArray compressedText() const { return m_compressedText; }
    std::optional<qint64> uncompressedLength() const { return m_uncompressedLength; }

    static qint64 nowMicroseconds();

private:
    friend class ZNTFavoritesStore;
    ZNTQueryHistoryElement(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state, qint64 favoriteID,
                           qint64 date, QString text, QByteArray compressedText,
                           std::optional<qint64> uncompressedLength);
    bool writeChange(sqlite3 *db, ErrorPtr *error) override;

    qint64 m_favoriteID;
    qint64 m_date;
    QString m_text;
    QByteArray m_compressedText;
    std::optional<qint64> m_uncompressedLength;
};
