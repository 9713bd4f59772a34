#include "RowStore.h"

#include "platform/Log.h"
#include "platform/ProgramError.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

// A chunk is one allocation: this header, the row end offsets, then the rows'
// bytes. Nothing in it moves once written.
struct RowStore::Chunk {
    qsizetype firstRow;
    uint32_t rowCapacity;
    uint32_t dataCapacity;
    uint32_t rows; // writer only
    uint32_t used; // writer only
    uint32_t *ends;
    char *data;
};

namespace {
// Small results (catalog queries) stay small; large ones settle on 1 MiB chunks,
// few enough that the directory search is short.
constexpr uint32_t kFirstChunkBytes = 4096;
constexpr uint32_t kLargestChunkBytes = 1u << 20;
// Room after a row for the whole 8-byte write of its last number.
constexpr uint32_t kWriteSlack = 8;

int64_t readInt(const char *p, qsizetype width) {
    switch (width) {
    case 1:
        return static_cast<int8_t>(*p);
    case 2: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 4: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: {
        int64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

uint32_t readOffset(const char *p, int width) {
    if (width == 1)
        return static_cast<uint8_t>(*p);
    if (width == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void writeOffset(char *p, int width, uint32_t value) {
    if (width == 1) {
        *p = static_cast<char>(value);
    } else if (width == 2) {
        uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &value, 4);
    }
}

// The offset width is not stored: the writer always takes the smallest width
// that holds the payload size, and the three possible row sizes for a given
// column count do not overlap, so the reader recovers it from the row size.
int offsetWidthForPayload(uint64_t payload) {
    return payload <= 0xFF ? 1 : payload <= 0xFFFF ? 2 : 4;
}

int offsetWidthForRow(uint64_t rowSize, uint64_t columns) {
    const uint64_t offsets = columns - 1;
    if (rowSize - columns - offsets <= 0xFF)
        return 1;
    if (rowSize - columns - 2 * offsets <= 0xFFFF)
        return 2;
    return 4;
}
} // namespace

namespace {
struct DirectorySlot {
    int segment;
    qsizetype offset;
};

DirectorySlot slotOf(qsizetype index, int firstSegmentBits) {
    const uint64_t j = uint64_t(index) + (uint64_t(1) << firstSegmentBits);
    const int top = 63 - __builtin_clzll(j);
    return DirectorySlot{top - firstSegmentBits, qsizetype(j - (uint64_t(1) << top))};
}
} // namespace

RowStore::RowStore(int columnCount) : m_columnCount(columnCount) {
    if (columnCount < 0)
        throw ProgramError("IncorrectUsage", "A row store needs a column count of zero or more.");
    for (auto &segment : m_segments)
        segment.store(nullptr, std::memory_order_relaxed);
    m_pending.reset(new PendingCell[size_t(columnCount)]);
}

RowStore::~RowStore() {
    const qsizetype chunks = m_chunkCount.load(std::memory_order_acquire);
    for (qsizetype i = 0; i < chunks; ++i)
        std::free(chunkAt(i));
    for (auto &segment : m_segments)
        delete[] segment.load(std::memory_order_relaxed);
}

RowStore::Chunk *RowStore::chunkAt(qsizetype index) const {
    const DirectorySlot slot = slotOf(index, kFirstSegmentBits);
    return m_segments[slot.segment].load(std::memory_order_acquire)[slot.offset];
}

RowStore::Chunk *RowStore::chunkForRow(qsizetype row) const {
    qsizetype low = 0, high = m_chunkCount.load(std::memory_order_acquire) - 1;
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (chunkAt(mid)->firstRow <= row)
            low = mid;
        else
            high = mid - 1;
    }
    return chunkAt(low);
}

RowStore::Chunk *RowStore::newChunk(uint32_t minimumSize) {
    const qsizetype index = m_chunkCount.load(std::memory_order_relaxed);
    if (slotOf(index, kFirstSegmentBits).segment >= kSegments)
        throw std::bad_alloc();
    uint32_t dataCapacity = m_current ? std::min(m_current->dataCapacity * 2, kLargestChunkBytes) : kFirstChunkBytes;
    dataCapacity = std::max(dataCapacity, minimumSize);
    const uint32_t rowCapacity = std::clamp<uint32_t>(dataCapacity / 16, 64, 65536);
    const size_t bytes = sizeof(Chunk) + size_t(rowCapacity) * sizeof(uint32_t) + dataCapacity;
    auto *chunk = static_cast<Chunk *>(std::malloc(bytes));
    if (!chunk)
        throw std::bad_alloc();
    chunk->firstRow = m_rowCount.load(std::memory_order_relaxed);
    chunk->rowCapacity = rowCapacity;
    chunk->dataCapacity = dataCapacity;
    chunk->rows = 0;
    chunk->used = 0;
    chunk->ends = reinterpret_cast<uint32_t *>(chunk + 1);
    chunk->data = reinterpret_cast<char *>(chunk->ends + rowCapacity);

    const DirectorySlot slot = slotOf(index, kFirstSegmentBits);
    Chunk **segment = m_segments[slot.segment].load(std::memory_order_relaxed);
    if (!segment) {
        segment = new Chunk *[size_t(1) << (slot.segment + kFirstSegmentBits)]();
        m_segments[slot.segment].store(segment, std::memory_order_release);
    }
    segment[slot.offset] = chunk;
    m_chunkCount.store(index + 1, std::memory_order_release);
    m_reservedBytes.fetch_add(qsizetype(bytes), std::memory_order_relaxed);
    m_current = chunk;
    return chunk;
}

char *RowStore::reserveRow(uint32_t rowSize) {
    Chunk *chunk = m_current;
    if (!chunk || chunk->rows == chunk->rowCapacity || chunk->dataCapacity - chunk->used < rowSize + kWriteSlack)
        chunk = newChunk(rowSize + kWriteSlack);
    return chunk->data + chunk->used;
}

void RowStore::tooManyCells() {
    throw ProgramError("IncorrectUsage", "A row needs exactly one value per column.");
}

void RowStore::cellTooLarge() {
    throw ProgramError("IncorrectUsage", "A cell is larger than a row may be.");
}

template <int Width> void RowStore::writeRow(char *out, uint64_t offsetBytes) {
    const int n = m_columnCount;
    char *offsets = out + n;
    char *body = offsets + offsetBytes;
    uint32_t end = 0;
    for (int c = 0; c < n; ++c) {
        const PendingCell &cell = m_pending[size_t(c)];
        out[c] = static_cast<char>(cell.tag);
        // Numbers are stored with one 8-byte write (little-endian: the low bytes
        // come first); the bytes past their width are overwritten by the next
        // cell or lie in the chunk's unused slack.
        if (cell.width)
            std::memcpy(body + end, &cell.i, sizeof cell.i);
        else if (cell.size)
            std::memcpy(body + end, cell.p, cell.size);
        end += cell.size;
        if (c + 1 < n)
            writeOffset(offsets + c * Width, Width, end);
    }
}

void RowStore::endRow() {
    const int n = m_columnCount;
    if (m_pendingCount != n)
        tooManyCells();
    uint64_t payload = 0;
    for (int c = 0; c < n; ++c)
        payload += m_pending[size_t(c)].size;
    const int width = offsetWidthForPayload(payload);
    const uint64_t offsetBytes = n ? uint64_t(n - 1) * width : 0;
    const uint64_t rowSize = uint64_t(n) + offsetBytes + payload;
    if (rowSize > std::numeric_limits<uint32_t>::max() / 2)
        cellTooLarge();

    char *out = reserveRow(uint32_t(rowSize));
    if (width == 1)
        writeRow<1>(out, offsetBytes);
    else if (width == 2)
        writeRow<2>(out, offsetBytes);
    else
        writeRow<4>(out, offsetBytes);
    Chunk *chunk = m_current;
    chunk->used += uint32_t(rowSize);
    chunk->ends[chunk->rows++] = chunk->used;
    m_pendingCount = 0;
    m_storedBytes.store(m_storedBytes.load(std::memory_order_relaxed) + qsizetype(rowSize + sizeof(uint32_t)),
                        std::memory_order_relaxed);
    m_rowCount.store(m_rowCount.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void RowStore::appendRow(const std::vector<Value> &values) {
    std::vector<QByteArray> texts; // kept alive until the row is written
    texts.reserve(values.size());
    for (const Value &v : values) {
        switch (v.kind()) {
        case Value::Kind::Null:
            addNull();
            break;
        case Value::Kind::Bool:
            addBool(v.toBool());
            break;
        case Value::Kind::Int:
            addInt(v.toInt());
            break;
        case Value::Kind::Float:
            addFloat(v.toFloat());
            break;
        case Value::Kind::Double:
            addDouble(v.toDouble());
            break;
        case Value::Kind::Bytes:
            addBytes(v.toBytes().constData(), v.toBytes().size());
            break;
        case Value::Kind::String:
            texts.push_back(v.toString().toUtf8());
            addText(texts.back().constData(), texts.back().size());
            break;
        case Value::Kind::Default:
            addDefault();
            break;
        case Value::Kind::Multiple:
            addMultiple();
            break;
        }
    }
    endRow();
}

RowStore::Cell RowStore::cellAt(qsizetype row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= m_columnCount)
        throw ProgramError("IncorrectUsage", "Cell outside the published rows.");
    const Chunk *chunk = chunkForRow(row);
    const qsizetype index = row - chunk->firstRow;
    const uint32_t start = index ? chunk->ends[index - 1] : 0;
    const uint32_t rowSize = chunk->ends[index] - start;
    const char *base = chunk->data + start;
    const uint32_t n = uint32_t(m_columnCount);
    const int width = offsetWidthForRow(rowSize, n);
    const uint32_t offsetBytes = (n - 1) * width;
    const uint32_t payload = rowSize - n - offsetBytes;
    const uint32_t begin = column ? readOffset(base + n + (column - 1) * width, width) : 0;
    const uint32_t end = uint32_t(column) + 1 < n ? readOffset(base + n + column * width, width) : payload;
    return Cell{static_cast<CellKind>(base[column]), base + n + offsetBytes + begin, qsizetype(end - begin)};
}

void RowStore::cellsOfRow(qsizetype row, Cell *cells) const {
    if (row < 0 || row >= rowCount())
        throw ProgramError("IncorrectUsage", "Row outside the published rows.");
    if (m_columnCount == 0)
        return;
    const Chunk *chunk = chunkForRow(row);
    const qsizetype index = row - chunk->firstRow;
    const uint32_t start = index ? chunk->ends[index - 1] : 0;
    const uint32_t rowSize = chunk->ends[index] - start;
    const char *base = chunk->data + start;
    const uint32_t n = uint32_t(m_columnCount);
    const int width = offsetWidthForRow(rowSize, n);
    const uint32_t offsetBytes = (n - 1) * width;
    const char *payload = base + n + offsetBytes;
    uint32_t begin = 0;
    for (uint32_t column = 0; column < n; ++column) {
        const uint32_t end = column + 1 < n ? readOffset(base + n + column * width, width) : rowSize - n - offsetBytes;
        cells[column] = Cell{static_cast<CellKind>(base[column]), payload + begin, qsizetype(end - begin)};
        begin = end;
    }
}

Value RowStore::valueAt(qsizetype row, int column) const {
    return valueOf(cellAt(row, column));
}

int64_t RowStore::intOf(const Cell &cell) {
    return readInt(cell.data, cell.size);
}

Value RowStore::valueOf(const Cell &cell) {
    switch (cell.kind) {
    case CellKind::Null:
        return Value::null();
    case CellKind::False:
        return Value::fromBool(false);
    case CellKind::True:
        return Value::fromBool(true);
    case CellKind::Int:
        return Value::fromInt(readInt(cell.data, cell.size));
    case CellKind::Float: {
        float f;
        std::memcpy(&f, cell.data, sizeof f);
        return Value::fromFloat(f);
    }
    case CellKind::Double: {
        double d;
        std::memcpy(&d, cell.data, sizeof d);
        return Value::fromDouble(d);
    }
    case CellKind::Bytes:
        return Value::fromBytes(QByteArray(cell.data, cell.size));
    case CellKind::Text:
        return Value::fromString(decodeText(cell.data, cell.size));
    case CellKind::Default:
        return Value::defaultMarker();
    case CellKind::Multiple:
        return Value::multipleMarker();
    }
    return Value::null();
}

std::vector<Value> RowStore::rowAt(qsizetype row) const {
    std::vector<Cell> cells(static_cast<size_t>(m_columnCount));
    cellsOfRow(row, cells.data());
    std::vector<Value> values;
    values.reserve(cells.size());
    for (const Cell &cell : cells)
        values.push_back(valueOf(cell));
    return values;
}

QString RowStore::displayText(qsizetype row, int column, qsizetype maxLength) const {
    const Cell cell = cellAt(row, column);
    if (cell.kind == CellKind::Text) {
        // Three bytes of UTF-8 never make fewer than one UTF-16 unit, so this
        // prefix (plus one sequence that may be cut) decodes to enough text.
        qsizetype size = cell.size;
        if (maxLength >= 0 && size > maxLength * 3 + 3)
            size = maxLength * 3 + 3;
        QString text = decodeText(cell.data, size);
        if (maxLength >= 0 && text.size() > maxLength)
            text.truncate(maxLength);
        return text;
    }
    if (cell.kind == CellKind::Bytes && maxLength >= 0) {
        const qsizetype bytes = std::min<qsizetype>(cell.size, maxLength / 2 + 1);
        return Value::fromBytes(QByteArray(cell.data, bytes)).description().left(maxLength);
    }
    const QString text = valueAt(row, column).description();
    return maxLength >= 0 ? text.left(maxLength) : text;
}

QString RowStore::decodeText(const char *utf8, qsizetype size) {
    QString text = QString::fromUtf8(utf8, size);
    // A replacement character is either in the data or stands for bytes that
    // were not UTF-8; only then is it worth asking the decoder.
    if (text.contains(QChar::ReplacementCharacter)) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        (void)QString(decoder(QByteArrayView(utf8, size)));
        static std::once_flag logged;
        if (decoder.hasError())
            std::call_once(logged, [] { Log(QStringLiteral("Received malformed UTF-8 from PostgreSQL server.")); });
    }
    return text;
}
