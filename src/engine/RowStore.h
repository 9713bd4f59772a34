#pragma once

#include "Value.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The rows of one result. One writer (the connection queue) appends while any
// number of readers (the main thread) read: a reader sees the published row
// count and every row below it, and an append never moves a row that is already
// there. Rows live in chunks that are never reallocated; the chunk directory is
// a fixed table of segments that are never reallocated either, so growing it
// never moves what a reader is looking at.
//
// A row is stored as one tag byte per cell, then the end offsets of the first
// n-1 cells (one, two or four bytes each, the smallest that holds the row's
// payload size), then the payloads: integers in the fewest bytes that hold them,
// float4 and float8 in their own width, booleans and NULL in the tag alone, text
// as the server's UTF-8 bytes (decoded only when read), bytea as raw bytes.
// Each chunk keeps a 4-byte end offset per row; a row's chunk is found by a
// binary search over the chunks' first rows.
class RowStore {
public:
    enum class CellKind : uint8_t { Null, False, True, Int, Float, Double, Bytes, Text, Default, Multiple };

    // A cell as stored: its kind and its payload bytes (the UTF-8 of text cells,
    // the raw bytes of bytea cells, the little-endian number otherwise).
    struct Cell {
        CellKind kind = CellKind::Null;
        const char *data = nullptr;
        qsizetype size = 0;
    };

    explicit RowStore(int columnCount);
    ~RowStore();
    RowStore(const RowStore &) = delete;
    RowStore &operator=(const RowStore &) = delete;

    int columnCount() const { return m_columnCount; }
    // any thread: the published rows; everything below is complete and stable.
    qsizetype rowCount() const { return m_rowCount.load(std::memory_order_acquire); }

    // any thread, for row < rowCount() and column < columnCount().
    Cell cellAt(qsizetype row, int column) const;
    // Every cell of a row with one look-up: cells holds columnCount() of them.
    void cellsOfRow(qsizetype row, Cell *cells) const;
    Value valueAt(qsizetype row, int column) const;
    // The value a cell of this store holds.
    static Value valueOf(const Cell &cell);
    // The number of an Int cell (stored in 1, 2, 4 or 8 bytes).
    static int64_t intOf(const Cell &cell);
    std::vector<Value> rowAt(qsizetype row) const;
    // The text a value reads as (Value::description), made straight from the
    // stored bytes. With maxLength >= 0 at most that many UTF-16 units are
    // produced, so a huge value costs no more than what is shown. Malformed
    // UTF-8 (a SQL_ASCII database) shows replacement characters; the bytes stay
    // as received and cellAt still gives them.
    QString displayText(qsizetype row, int column, qsizetype maxLength = -1) const;

    // Bytes held for the stored rows (tags, offsets, payloads and row index),
    // and bytes reserved for chunks.
    qsizetype storedBytes() const { return m_storedBytes.load(std::memory_order_relaxed); }
    qsizetype reservedBytes() const { return m_reservedBytes.load(std::memory_order_relaxed); }

    // Writer side, one thread. A row is built with exactly columnCount() add
    // calls and finished with endRow(), which publishes it. The pointers given
    // to addText/addBytes must stay valid until endRow() returns.
    void addNull() { nextCell(CellKind::Null, 0).size = 0; }
    void addBool(bool b) { nextCell(b ? CellKind::True : CellKind::False, 0).size = 0; }
    void addInt(int64_t i) {
        const uint8_t width = i == int8_t(i) ? 1 : i == int16_t(i) ? 2 : i == int32_t(i) ? 4 : 8;
        PendingCell &cell = nextCell(CellKind::Int, width);
        cell.i = i;
        cell.size = width;
    }
    void addFloat(float f) {
        PendingCell &cell = nextCell(CellKind::Float, sizeof f);
        cell.f = f;
        cell.size = sizeof f;
    }
    void addDouble(double d) {
        PendingCell &cell = nextCell(CellKind::Double, sizeof d);
        cell.d = d;
        cell.size = sizeof d;
    }
    void addText(const char *utf8, qsizetype size) { addVariable(CellKind::Text, utf8, size); }
    void addBytes(const char *bytes, qsizetype size) { addVariable(CellKind::Bytes, bytes, size); }
    void addDefault() { nextCell(CellKind::Default, 0).size = 0; }
    void addMultiple() { nextCell(CellKind::Multiple, 0).size = 0; }
    void endRow();
    void appendRow(const std::vector<Value> &values);

    // Decodes text as UTF-8 with replacement characters; logs once per process
    // when the bytes were not UTF-8.
    static QString decodeText(const char *utf8, qsizetype size);

private:
    struct Chunk;
    struct PendingCell {
        uint8_t tag;
        uint8_t width; // payload bytes of fixed-size cells
        union {
            int64_t i;
            float f;
            double d;
            const char *p;
        };
        uint32_t size; // payload bytes
    };
    // Directory segment k holds 16 << k chunk pointers, so a small result pays
    // for a few pointers and a huge one never runs out.
    static constexpr int kFirstSegmentBits = 4;
    static constexpr int kSegments = 40;
    // One protocol message carries a whole row and the server caps those below
    // 1 GB, so a cell never comes near this.
    static constexpr qsizetype kLargestCell = 0x7fffffff;

    // The writer's add calls are inline: they run for every cell of every row.
    PendingCell &nextCell(CellKind kind, uint8_t width) {
        if (m_pendingCount == m_columnCount)
            tooManyCells();
        PendingCell &cell = m_pending[size_t(m_pendingCount++)];
        cell.tag = static_cast<uint8_t>(kind);
        cell.width = width;
        return cell;
    }
    void addVariable(CellKind kind, const char *p, qsizetype size) {
        if (size < 0 || size > kLargestCell)
            cellTooLarge();
        PendingCell &cell = nextCell(kind, 0);
        cell.p = p;
        cell.size = uint32_t(size);
    }
    [[noreturn]] static void tooManyCells();
    [[noreturn]] static void cellTooLarge();
    template <int Width> void writeRow(char *out, uint64_t offsetBytes);
    char *reserveRow(uint32_t rowSize);
    Chunk *chunkAt(qsizetype index) const;
    Chunk *chunkForRow(qsizetype row) const;
    Chunk *newChunk(uint32_t minimumSize);

    const int m_columnCount;
    std::atomic<qsizetype> m_rowCount{0};
    std::atomic<qsizetype> m_chunkCount{0};
    std::atomic<qsizetype> m_storedBytes{0};
    std::atomic<qsizetype> m_reservedBytes{0};
    std::atomic<Chunk **> m_segments[kSegments];
    // Writer state.
    Chunk *m_current = nullptr;
    std::unique_ptr<PendingCell[]> m_pending;
    int m_pendingCount = 0;
};

// A run of rows of a store, handed out with row notifications: it keeps the
// store alive and reads from it without copying.
struct RowRange {
    std::shared_ptr<const RowStore> store;
    qsizetype firstRow = 0;
    qsizetype count = 0;

    qsizetype size() const { return count; }
    bool isEmpty() const { return count == 0; }
    Value valueAt(qsizetype index, int column) const { return store->valueAt(firstRow + index, column); }
    std::vector<Value> rowAt(qsizetype index) const { return store->rowAt(firstRow + index); }
    QString displayText(qsizetype index, int column, qsizetype maxLength = -1) const {
        return store->displayText(firstRow + index, column, maxLength);
    }
};
