#include "ZNTQueryHistoryElement.h"

#include "SqliteStatement.h"
#include "ZNTFavoritesStore.h"
#include "platform/Compression.h"
#include "platform/Log.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <chrono>
#include <sqlite3.h>
#include <zlib.h>

ZNTQueryHistoryElement::ZNTQueryHistoryElement(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state,
                                               qint64 favoriteID, qint64 date, QString text, QByteArray compressedText,
                                               std::optional<qint64> uncompressedLength)
    : ZNTStoredObject(std::move(store), id, state), m_favoriteID(favoriteID), m_date(date), m_text(std::move(text)),
      m_compressedText(std::move(compressedText)), m_uncompressedLength(uncompressedLength) {}

qint64 ZNTQueryHistoryElement::nowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

QDateTime ZNTQueryHistoryElement::date() const {
    return QDateTime::fromMSecsSinceEpoch(m_date / 1000, Qt::UTC);
}

void ZNTQueryHistoryElement::setDateMicroseconds(qint64 date) {
    m_date = date;
    didChange(SaveDelay::Favorite);
}

// Compressed only when that is shorter: zlib gets a buffer as long as the text,
// and a text it cannot shrink into it stays plain.
void ZNTQueryHistoryElement::setText(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    QByteArray compressed(bytes.size(), Qt::Uninitialized);
    uLongf length = uLongf(bytes.size());
    const int rc = bytes.isEmpty() ? Z_BUF_ERROR
                                   : compress(reinterpret_cast<Bytef *>(compressed.data()), &length,
                                              reinterpret_cast<const Bytef *>(bytes.constData()), uLong(bytes.size()));
    if (rc == Z_OK && qsizetype(length) < bytes.size()) {
        compressed.truncate(qsizetype(length));
        m_compressedText = compressed;
        m_uncompressedLength = bytes.size();
        m_text = QString();
    } else {
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            Log(QStringLiteral("Compression failed: %1").arg(rc));
        m_text = text.isNull() ? QStringLiteral("") : text;
        m_compressedText = QByteArray();
        m_uncompressedLength.reset();
    }
    didChange(SaveDelay::Favorite);
}

QString ZNTQueryHistoryElement::text() const {
    if (!m_text.isNull())
        return m_text;
    if (m_compressedText.isNull() || m_uncompressedLength.value_or(0) == 0)
        return QStringLiteral("");
    std::optional<int> status;
    const auto bytes = Compression::uncompressDeclared(m_compressedText, *m_uncompressedLength, &status);
    if (!bytes) {
        // A refused length is damage of the same kind as a damaged stream.
        Log(QStringLiteral("Uncompressing failed: %1").arg(status.value_or(Z_DATA_ERROR)));
        return QStringLiteral("");
    }
    // A text that begins with a byte-order mark keeps it.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = decoder(*bytes);
    return decoder.hasError() ? QStringLiteral("") : decoded;
}

QString ZNTQueryHistoryElement::previewText() const {
    QString preview = text();
    if (preview.size() > 1000) {
        // Never half of a character beyond the basic plane.
        const qsizetype cut = preview.at(999).isHighSurrogate() ? 999 : 1000;
        preview.truncate(cut);
    }
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    return preview.replace(whiteSpace, QStringLiteral(" "));
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTQueryHistoryElement::previousHistoryElement() const {
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    return store->fetchHistoryElement(m_favoriteID, ZNTFavoritesStore::HistoryStep::Before, m_date);
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTQueryHistoryElement::nextHistoryElement() const {
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    return store->fetchHistoryElement(m_favoriteID, ZNTFavoritesStore::HistoryStep::After, m_date);
}

bool ZNTQueryHistoryElement::writeChange(sqlite3 *db, ErrorPtr *error) {
    if (storeState() == State::Deleted) {
        SqliteStatement remove(db, "DELETE FROM queryHistoryElement WHERE id = ?1");
        return remove.bind(1, objectID()).run(error, QStringLiteral("Deleting a history entry"));
    }
    // A new row never replaces one that is there already.
    SqliteStatement write(db, storeState() == State::Inserted ? R"sql(
        INSERT INTO queryHistoryElement (id, favorite, date, text, compressedText, uncompressedLength)
        VALUES (?1, ?2, ?3, ?4, ?5, ?6))sql"
                                                              : R"sql(
        UPDATE queryHistoryElement SET favorite = ?2, date = ?3, text = ?4, compressedText = ?5,
            uncompressedLength = ?6
        WHERE id = ?1)sql");
    write.bind(1, objectID()).bind(2, m_favoriteID).bind(3, m_date).bind(4, m_text);
    write.bind(5, m_compressedText).bind(6, m_uncompressedLength);
    return write.run(error, QStringLiteral("Saving a history entry"));
}
