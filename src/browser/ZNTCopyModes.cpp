#include "browser/ZNTCopyModes.h"

#include "browser/KesCoder.h"
#include "uikit/ZNTGridModel.h"

#include <QStringDecoder>
#include <algorithm>
#include <thread>
#include <unordered_map>

namespace {
// Below this many rows a copy is encoded on the calling thread alone.
constexpr qsizetype kRowsPerSlice = 25000;
constexpr unsigned kMostSlices = 4;

// How rows join: `between` before every row but the first, each row inside
// `before` and `after`.
struct Framing {
    std::string_view between, before, after;
};

// The rows of a copy as the encoding reads them: store rows read in place (as
// the CSV export reads them), the values of other rows gathered beforehand on
// the calling thread, so that slices of rows can be encoded side by side
// without touching anything but the store.
class CopyRows {
public:
    explicit CopyRows(const ZNTCopySource &source) : m_source(source) {
        if (!source.store)
            return;
        m_storeRows.resize(size_t(source.rowCount));
        for (qsizetype row = 0; row < source.rowCount; ++row) {
            m_storeRows[size_t(row)] = source.storeRowAt(row);
            if (m_storeRows[size_t(row)] < 0)
                m_values.emplace(row, valuesOf(row));
        }
    }

    void append(const KesCoder &coder, qsizetype row, std::string &out) const {
        const qsizetype stored = m_storeRows.empty() ? -1 : m_storeRows[size_t(row)];
        if (stored >= 0)
            coder.appendStoredRowUtf8(*m_source.store, stored, m_source.storeColumns, out, true);
        else if (m_source.store)
            coder.appendRowUtf8(m_values.at(row), out);
        else
            coder.appendRowUtf8(valuesOf(row), out);
    }
    // Rows read through valueAt alone are encoded on the calling thread.
    bool readsStore() const { return m_source.store != nullptr; }

private:
    std::vector<Value> valuesOf(qsizetype row) const {
        std::vector<Value> values;
        values.reserve(size_t(m_source.columnNames.size()));
        for (int column = 0; column < m_source.columnNames.size(); ++column)
            values.push_back(m_source.valueAt(row, column));
        return values;
    }

    const ZNTCopySource &m_source;
    std::vector<qsizetype> m_storeRows;
    std::unordered_map<qsizetype, std::vector<Value>> m_values;
};

void appendSlice(const CopyRows &rows, const KesCoder &coder, const Framing &framing, qsizetype first, qsizetype end,
                 std::string &out) {
    for (qsizetype row = first; row < end; ++row) {
        if (row > 0)
            out += framing.between;
        out += framing.before;
        rows.append(coder, row, out);
        out += framing.after;
    }
}

// head, the rows, tail: encoded as UTF-8 (a large copy in slices on several
// threads; a coder only reads its settings), then made one text.
QString encodeRows(const ZNTCopySource &source, const KesCoder &coder, const Framing &framing, const std::string &head,
                   std::string_view tail) {
    const CopyRows rows(source);
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMostSlices);
    const qsizetype count = rows.readsStore() ? std::min<qsizetype>(threads, source.rowCount / kRowsPerSlice) : 0;
    const qsizetype slices = std::max<qsizetype>(count, 1);
    std::vector<std::string> utf8(static_cast<size_t>(slices));
    utf8.front() = head;
    std::vector<std::thread> workers;
    for (qsizetype slice = 1; slice < slices; ++slice) {
        workers.emplace_back([&, slice] {
            appendSlice(rows, coder, framing, source.rowCount * slice / slices, source.rowCount * (slice + 1) / slices,
                        utf8[size_t(slice)]);
        });
    }
    appendSlice(rows, coder, framing, 0, source.rowCount / slices, utf8.front());
    for (std::thread &worker : workers)
        worker.join();
    utf8.back() += tail;
    // Every slice ends after a whole row, so no character is split between
    // two; a text of UTF-8 bytes never has more UTF-16 units than bytes.
    qsizetype bytes = 0;
    for (const std::string &part : utf8)
        bytes += qsizetype(part.size());
    QString text(bytes, Qt::Uninitialized);
    QChar *end = text.data();
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    for (std::string &part : utf8) {
        end = decoder.appendToBuffer(end, QByteArrayView(part.data(), qsizetype(part.size())));
        std::string().swap(part);
    }
    text.truncate(end - text.constData());
    return text;
}

std::string namesRow(const KesCoder &coder, const QStringList &names) {
    std::vector<Value> values;
    values.reserve(size_t(names.size()));
    for (const QString &name : names)
        values.push_back(Value::fromString(name));
    std::string text;
    coder.appendRowUtf8(values, text);
    return text;
}

// INSERT INTO "t"("a","b") VALUES (1,E'x'), (2,NULL);  on one line.
// OVERRIDING SYSTEM VALUE came with identity columns, in PostgreSQL 10.
QString insertStatement(const QString &tableName, const ZNTCopySource &given) {
    const KesCoder identifiers = KesCoder::ansiIdentifierCoder();
    // The server computes generated columns: their values go as DEFAULT,
    // read through valueAt rather than in place from the store.
    ZNTCopySource source = given;
    if (std::find(given.generatedColumns.begin(), given.generatedColumns.end(), true) != given.generatedColumns.end()) {
        source.store = nullptr;
        source.valueAt = [&given](qsizetype row, int column) {
            return given.generatedColumns.value(column) ? Value::defaultMarker() : given.valueAt(row, column);
        };
    }
    std::string head = "INSERT INTO ";
    identifiers.appendUtf8(Value::fromString(tableName), head);
    head += '(' + namesRow(identifiers, source.columnNames) +
            (source.overridingSystemValue ? ") OVERRIDING SYSTEM VALUE VALUES " : ") VALUES ");
    return encodeRows(source, KesCoder::postgresqlCoder(), Framing{", ", "(", ")"}, head, ";");
}

QString csvText(const ZNTCopySource &source, bool withHeader) {
    const KesCsvCoder coder = KesCoder::csvCoder();
    const std::string head = withHeader ? namesRow(coder, source.columnNames) + '\n' : std::string();
    return encodeRows(source, coder, Framing{"", "", "\n"}, head, {});
}

// A line feed between rows, also after a row that reads as nothing (one NULL):
// otherwise two rows would paste as one.
QString clipboardText(const ZNTCopySource &source) {
    return encodeRows(source, KesCoder::clipboardCoder(), Framing{"\n", "", ""}, {}, {});
}
} // namespace

ZNTCopySource ZNTCopySource::ofGrid(const ZNTGridModel &model, const QList<int> &rows,
                                    const std::vector<int> &columns) {
    ZNTCopySource source;
    for (int column : columns)
        source.columnNames << model.columns()[column]->name();
    source.rowCount = rows.size();
    source.valueAt = [&model, rows, columns](qsizetype row, int column) {
        return model.valueAt(rows[row], columns[size_t(column)]);
    };
    source.store = model.rowStore();
    source.storeColumns = columns;
    const int shown = model.rowCount();
    source.storeRowAt = [&model, rows, shown](qsizetype row) -> qsizetype {
        return rows[row] >= 0 && rows[row] < shown ? model.storeRow(rows[row]) : -1;
    };
    return source;
}

QString ZNTCopyText(int mode, const QString &tableName, const ZNTCopySource &source) {
    if (source.rowCount <= 0)
        return QString();
    switch (mode) {
    case ZNTCopyModeInsertStatements:
        return insertStatement(tableName, source);
    case ZNTCopyModeCSV:
        return csvText(source, false);
    case ZNTCopyModeCSVWithHeader:
        return csvText(source, true);
    default:
        return clipboardText(source);
    }
}
