#include "ResultSorting.h"

#include <QChar>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace ResultSorting {

namespace {
int sign(qsizetype v) {
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// --- numeric text ----------------------------------------------------------------

// A numeric value as the server writes it: "-12.50", "NaN", "Infinity".
struct Decimal {
    enum class Kind { MinusInfinity, Finite, PlusInfinity, NaN, Unreadable } kind = Kind::Unreadable;
    bool negative = false;
    QByteArrayView integer;  // without leading zeros
    QByteArrayView fraction; // without trailing zeros
    bool isZero() const { return integer.isEmpty() && fraction.isEmpty(); }
};

Decimal parseDecimal(QByteArrayView text) {
    Decimal d;
    if (text == "NaN") {
        d.kind = Decimal::Kind::NaN;
        return d;
    }
    if (text == "Infinity" || text == "+Infinity") {
        d.kind = Decimal::Kind::PlusInfinity;
        return d;
    }
    if (text == "-Infinity") {
        d.kind = Decimal::Kind::MinusInfinity;
        return d;
    }
    qsizetype i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        d.negative = text[i++] == '-';
    const qsizetype intStart = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    QByteArrayView integer = text.sliced(intStart, i - intStart);
    QByteArrayView fraction;
    if (i < text.size() && text[i] == '.') {
        const qsizetype fracStart = ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        fraction = text.sliced(fracStart, i - fracStart);
    }
    if (i != text.size() || (integer.isEmpty() && fraction.isEmpty()))
        return d; // unreadable
    while (!integer.isEmpty() && integer.front() == '0')
        integer = integer.sliced(1);
    while (!fraction.isEmpty() && fraction.back() == '0')
        fraction.chop(1);
    d.kind = Decimal::Kind::Finite;
    d.integer = integer;
    d.fraction = fraction;
    return d;
}

// Compares the magnitudes of two finite decimals.
int compareMagnitude(const Decimal &a, const Decimal &b) {
    if (a.integer.size() != b.integer.size())
        return sign(a.integer.size() - b.integer.size());
    if (const int c = std::memcmp(a.integer.data(), b.integer.data(), size_t(a.integer.size())))
        return sign(c);
    const qsizetype common = std::min(a.fraction.size(), b.fraction.size());
    if (const int c = std::memcmp(a.fraction.data(), b.fraction.data(), size_t(common)))
        return sign(c);
    return sign(a.fraction.size() - b.fraction.size());
}

// --- text ------------------------------------------------------------------------

// The next code point of UTF-8 text at i (advancing i); malformed bytes read
// as themselves, so that every byte string has an order.
char32_t nextCodePoint(QByteArrayView s, qsizetype &i) {
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + extra >= s.size()) {
        ++i;
        return lead;
    }
    char32_t cp = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return lead;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    i += extra + 1;
    return cp;
}

char32_t folded(char32_t c) {
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return QChar::toCaseFolded(c);
}

// Compares the digit runs starting at i and j by value, advancing both past them.
int compareDigitRuns(QByteArrayView a, qsizetype &i, QByteArrayView b, qsizetype &j) {
    while (i < a.size() && a[i] == '0' && i + 1 < a.size() && isDigit(a[i + 1]))
        ++i;
    while (j < b.size() && b[j] == '0' && j + 1 < b.size() && isDigit(b[j + 1]))
        ++j;
    const qsizetype startA = i, startB = j;
    while (i < a.size() && isDigit(a[i]))
        ++i;
    while (j < b.size() && isDigit(b[j]))
        ++j;
    const qsizetype lengthA = i - startA, lengthB = j - startB;
    if (lengthA != lengthB)
        return sign(lengthA - lengthB);
    return sign(std::memcmp(a.data() + startA, b.data() + startB, size_t(lengthA)));
}

// --- cells -----------------------------------------------------------------------

enum class Rank { Number, Text, Unordered };

Rank rankOf(RowStore::CellKind kind) {
    switch (kind) {
    case RowStore::CellKind::False:
    case RowStore::CellKind::True:
    case RowStore::CellKind::Int:
    case RowStore::CellKind::Float:
    case RowStore::CellKind::Double:
        return Rank::Number;
    case RowStore::CellKind::Text:
        return Rank::Text;
    default:
        return Rank::Unordered;
    }
}

// A number cell: an integer exactly, or a double (NaN after every number).
struct Number {
    bool isInteger;
    int64_t i;
    double d;
};

Number numberOf(const RowStore::Cell &cell) {
    switch (cell.kind) {
    case RowStore::CellKind::False:
        return {true, 0, 0};
    case RowStore::CellKind::True:
        return {true, 1, 0};
    case RowStore::CellKind::Int:
        return {true, RowStore::intOf(cell), 0};
    case RowStore::CellKind::Float: {
        float f;
        std::memcpy(&f, cell.data, sizeof f);
        return {false, 0, f};
    }
    default: {
        double d;
        std::memcpy(&d, cell.data, sizeof d);
        return {false, 0, d};
    }
    }
}

int compareNumbers(const Number &a, const Number &b) {
    if (a.isInteger && b.isInteger)
        return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
    const bool nanA = !a.isInteger && std::isnan(a.d), nanB = !b.isInteger && std::isnan(b.d);
    if (nanA || nanB)
        return int(nanA) - int(nanB);
    // long double holds every int64 exactly on this platform.
    const long double x = a.isInteger ? (long double)a.i : a.d;
    const long double y = b.isInteger ? (long double)b.i : b.d;
    return x < y ? -1 : x > y ? 1 : 0;
}

QByteArrayView bytesOf(const RowStore::Cell &cell) {
    return QByteArrayView(cell.data, cell.size);
}

// A row's cell as the sort reads it, taken from the store once: comparisons
// then touch the two values only, not the store's row index as well (with a
// million rows every extra look-up is a cache miss).
struct Key {
    const char *data;
    uint32_t size; // the store keeps a cell below 2 GiB
    uint32_t row;  // a grid shows fewer than 2^31 rows
    RowStore::CellKind kind;
};

struct KeyLess {
    qint64 typeOid;
    int direction;

    bool operator()(const Key &a, const Key &b) const {
        const int c = compareCells({a.kind, a.data, a.size}, {b.kind, b.data, b.size}, typeOid) * direction;
        return c != 0 ? c < 0 : a.row < b.row;
    }
};
} // namespace

int compareNumericText(QByteArrayView a, QByteArrayView b) {
    const Decimal x = parseDecimal(a), y = parseDecimal(b);
    if (x.kind == Decimal::Kind::Unreadable || y.kind == Decimal::Kind::Unreadable) {
        if (x.kind != y.kind)
            return x.kind == Decimal::Kind::Unreadable ? 1 : -1;
        return compareTextNaturally(a, b);
    }
    if (x.kind != y.kind)
        return int(x.kind) < int(y.kind) ? -1 : 1;
    if (x.kind != Decimal::Kind::Finite)
        return 0;
    const bool negativeX = x.negative && !x.isZero(), negativeY = y.negative && !y.isZero();
    if (negativeX != negativeY)
        return negativeX ? -1 : 1;
    const int magnitude = compareMagnitude(x, y);
    return negativeX ? -magnitude : magnitude;
}

int compareTextNaturally(QByteArrayView a, QByteArrayView b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (const int c = compareDigitRuns(a, i, b, j))
                return c;
            continue;
        }
        const char32_t x = folded(nextCodePoint(a, i)), y = folded(nextCodePoint(b, j));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return int(i < a.size()) - int(j < b.size());
}

int compareCells(const RowStore::Cell &a, const RowStore::Cell &b, qint64 typeOid) {
    const Rank rankA = rankOf(a.kind), rankB = rankOf(b.kind);
    if (rankA != rankB)
        return int(rankA) < int(rankB) ? -1 : 1;
    switch (rankA) {
    case Rank::Number:
        return compareNumbers(numberOf(a), numberOf(b));
    case Rank::Text:
        return typeOid == kNumericTypeOid ? compareNumericText(bytesOf(a), bytesOf(b))
                                          : compareTextNaturally(bytesOf(a), bytesOf(b));
    case Rank::Unordered:
        return 0;
    }
    return 0;
}

std::vector<qsizetype> sortedRowOrder(const RowStore &store, qsizetype rowCount, int column, qint64 typeOid,
                                      bool ascending, int threads) {
    rowCount = std::clamp<qsizetype>(std::min(rowCount, store.rowCount()), 0, std::numeric_limits<int>::max());
    std::vector<Key> keys(static_cast<size_t>(rowCount));
    for (qsizetype row = 0; row < rowCount; ++row) {
        const RowStore::Cell cell = store.cellAt(row, column);
        keys[size_t(row)] = Key{cell.data, uint32_t(cell.size), uint32_t(row), cell.kind};
    }
    const KeyLess less{typeOid, ascending ? 1 : -1};
    // The row breaks ties, so the order is total: parts sorted apart and
    // merged give exactly what one sort gives.
    const size_t parts = size_t(std::clamp<qsizetype>(threads, 1, std::max<qsizetype>(rowCount / 10000, 1)));
    std::vector<size_t> bounds;
    for (size_t p = 0; p <= parts; ++p)
        bounds.push_back(keys.size() * p / parts);
    std::vector<std::thread> workers;
    for (size_t p = 1; p < parts; ++p)
        workers.emplace_back([&, p] { std::sort(keys.begin() + bounds[p], keys.begin() + bounds[p + 1], less); });
    std::sort(keys.begin() + bounds[0], keys.begin() + bounds[1], less);
    for (std::thread &worker : workers)
        worker.join();
    for (size_t width = 1; width < parts; width *= 2) {
        for (size_t p = 0; p + width < parts; p += 2 * width) {
            const size_t end = bounds[std::min(p + 2 * width, parts)];
            std::inplace_merge(keys.begin() + bounds[p], keys.begin() + bounds[p + width], keys.begin() + end, less);
        }
    }
    std::vector<qsizetype> order(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].row;
    return order;
}

} // namespace ResultSorting
