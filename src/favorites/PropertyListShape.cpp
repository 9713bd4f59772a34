// What property lists may reach libplist: it parses and frees nested
// containers recursively (a few hundred thousand levels overflow the stack) and
// copies an object each time a binary list refers to it (shared containers
// grow exponentially). Both are measured here, without recursion, before
// libplist sees the bytes. So are texts holding a NUL character, which libplist
// would end there without a word.
#include "PropertyList.h"

#include <vector>

namespace PropertyList {

namespace {

quint64 bigEndian(const uchar *bytes, int size) {
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | bytes[i];
    return value;
}

quint64 saturatingSum(quint64 a, quint64 b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// A binary list: the trailer, the offset table and each object's references.
class BinaryShape {
public:
    explicit BinaryShape(const QByteArray &data)
        : m_bytes(reinterpret_cast<const uchar *>(data.constData())), m_size(quint64(data.size())) {}

    bool fits() {
        if (!readTrailer())
            return false;
        m_state.assign(m_count, State::New);
        m_nodes.assign(m_count, 0);
        m_payload.assign(m_count, 0);
        if (!walk(m_top))
            return false;
        // Without shared containers, every node is one reference of the file.
        return m_nodes[m_top] <= m_size + 1 && m_payload[m_top] <= 4 * m_size + kExpandedPayloadAllowance;
    }
    // After fits(): whether a text below the top holds a NUL character.
    bool hasTextWithNul() const { return m_textWithNul; }

private:
    enum class State : quint8 { New, Open, Done };
    struct Object {
        quint8 type = 0;
        quint64 count = 0;     // elements (twice for a dictionary's keys and values)
        quint64 refsStart = 0; // of a container
        quint64 payload = 0;   // bytes of a leaf's contents
    };
    struct Frame {
        quint64 index;
        Object object;
        quint64 next = 0;
    };
    // Strings repeated through references are copied too; our own writer
    // shares equal strings, so a long history text run many times is legal.
    static constexpr quint64 kExpandedPayloadAllowance = 128ull << 20;

    bool readTrailer() {
        if (m_size < 8 + 32)
            return false;
        const uchar *t = m_bytes + m_size - 32;
        m_offsetSize = t[6];
        m_refSize = t[7];
        m_count = bigEndian(t + 8, 8);
        m_top = bigEndian(t + 16, 8);
        m_tableOffset = bigEndian(t + 24, 8);
        const quint64 end = m_size - 32;
        return m_offsetSize >= 1 && m_offsetSize <= 8 && m_refSize >= 1 && m_refSize <= 8 && m_count >= 1 &&
               m_top < m_count && m_tableOffset >= 8 && m_tableOffset < end &&
               m_count <= (end - m_tableOffset) / m_offsetSize;
    }

    std::optional<Object> object(quint64 index) {
        const quint64 offset = bigEndian(m_bytes + m_tableOffset + index * m_offsetSize, m_offsetSize);
        if (offset < 8 || offset >= m_tableOffset)
            return std::nullopt;
        Object o;
        const uchar marker = m_bytes[offset];
        o.type = marker >> 4;
        quint64 position = offset + 1;
        o.count = marker & 0x0F;
        if (o.count == 0x0F && o.type >= 0x4) {
            // The count follows as an integer object of 1, 2, 4 or 8 bytes.
            if (position >= m_tableOffset || (m_bytes[position] & 0xF0) != 0x10 || (m_bytes[position] & 0x0F) > 3)
                return std::nullopt;
            const int width = 1 << (m_bytes[position] & 0x0F);
            if (position + 1 + quint64(width) > m_tableOffset)
                return std::nullopt;
            o.count = bigEndian(m_bytes + position + 1, width);
            position += 1 + quint64(width);
        }
        if (o.type >= 0xA && o.type <= 0xD) {
            const quint64 refs = o.type == 0xD ? 2 : 1;
            if (o.count > (m_tableOffset - position) / m_refSize / refs)
                return std::nullopt;
            o.count *= refs;
            o.refsStart = position;
        } else if (o.type >= 0x4 && o.type <= 0x7) {
            o.payload = o.type == 0x6 ? 2 * o.count : o.count;
            if (o.type >= 0x5 && o.count <= m_tableOffset && o.payload <= m_tableOffset - position)
                m_textWithNul = m_textWithNul || holdsNul(m_bytes + position, o.payload, o.type == 0x6 ? 2 : 1);
        }
        return o;
    }

    // ASCII and UTF-8 texts (unit 1) or UTF-16 ones (unit 2).
    static bool holdsNul(const uchar *text, quint64 size, int unit) {
        for (quint64 i = 0; i + quint64(unit) <= size; i += quint64(unit))
            if (text[i] == 0 && (unit == 1 || text[i + 1] == 0))
                return true;
        return false;
    }

    // Post-order over the objects below index, each container measured once.
    bool walk(quint64 top) {
        std::vector<Frame> stack;
        if (!enter(top, stack))
            return false;
        while (!stack.empty()) {
            Frame &frame = stack.back();
            if (frame.next == frame.object.count) {
                finish(frame);
                stack.pop_back();
                continue;
            }
            const quint64 child = bigEndian(m_bytes + frame.object.refsStart + frame.next++ * m_refSize, m_refSize);
            if (child >= m_count || m_state[child] == State::Open)
                return false; // outside the table, or a cycle
            if (m_state[child] == State::New && !enter(child, stack))
                return false;
        }
        return true;
    }

    bool enter(quint64 index, std::vector<Frame> &stack) {
        const std::optional<Object> o = object(index);
        if (!o)
            return false;
        if (o->type < 0xA || o->type > 0xD) {
            m_state[index] = State::Done;
            m_nodes[index] = 1;
            m_payload[index] = o->payload;
            return true;
        }
        if (stack.size() >= kMaxDepth)
            return false;
        m_state[index] = State::Open;
        stack.push_back({index, *o});
        return true;
    }

    void finish(const Frame &frame) {
        quint64 nodes = 1, payload = 0;
        for (quint64 i = 0; i < frame.object.count; ++i) {
            const quint64 child = bigEndian(m_bytes + frame.object.refsStart + i * m_refSize, m_refSize);
            nodes = saturatingSum(nodes, m_nodes[child]);
            payload = saturatingSum(payload, m_payload[child]);
        }
        m_nodes[frame.index] = nodes;
        m_payload[frame.index] = payload;
        m_state[frame.index] = State::Done;
    }

    const uchar *m_bytes;
    quint64 m_size;
    int m_offsetSize = 0, m_refSize = 0;
    quint64 m_count = 0, m_top = 0, m_tableOffset = 0;
    std::vector<State> m_state;
    std::vector<quint64> m_nodes, m_payload;
    bool m_textWithNul = false;
};

// An XML list: elements opened and not yet closed, outside comments, CDATA
// sections, processing instructions and declarations. A quoted attribute
// value holding "<" or ">" is refused, so that no reading of the tags can
// hide an element from this count.
bool xmlFits(QByteArrayView xml) {
    int depth = 0;
    qsizetype i = 0;
    auto skipPast = [&](const char *end) {
        const qsizetype at = xml.indexOf(end, i);
        i = at < 0 ? xml.size() : at + qsizetype(qstrlen(end));
    };
    while ((i = xml.indexOf('<', i)) >= 0) {
        const QByteArrayView rest = xml.sliced(i);
        if (rest.startsWith("<!--")) {
            skipPast("-->");
        } else if (rest.startsWith("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.startsWith("<?")) {
            skipPast("?>");
        } else if (rest.startsWith("<!")) {
            skipPast(">");
        } else if (rest.startsWith("</")) {
            depth = std::max(0, depth - 1);
            skipPast(">");
        } else {
            char quote = 0;
            qsizetype j = i + 1;
            for (; j < xml.size() && (quote || xml[j] != '>'); ++j) {
                if (quote && (xml[j] == '<' || xml[j] == '>'))
                    return false;
                if (xml[j] == '"' || xml[j] == '\'')
                    quote = quote == xml[j] ? 0 : quote ? quote : xml[j];
            }
            const bool selfClosing = j < xml.size() && xml[j - 1] == '/';
            if (!selfClosing && ++depth > kMaxDepth)
                return false;
            i = j + 1;
        }
        if (i >= xml.size())
            break;
    }
    return true;
}

// A NUL byte, or a character reference to NUL ("&#0;", "&#x00;").
bool xmlHasNul(QByteArrayView xml) {
    if (xml.contains('\0'))
        return true;
    for (qsizetype i = xml.indexOf("&#"); i >= 0; i = xml.indexOf("&#", i + 2)) {
        qsizetype j = i + 2;
        if (j < xml.size() && (xml[j] == 'x' || xml[j] == 'X'))
            ++j;
        const qsizetype digits = j;
        while (j < xml.size() && xml[j] == '0')
            ++j;
        if (j > digits && j < xml.size() && xml[j] == ';')
            return true;
    }
    return false;
}

} // namespace

Shape shapeOf(const QByteArray &data) {
    if (data.startsWith("bplist00")) {
        BinaryShape shape(data);
        if (!shape.fits())
            return Shape::Unparsable;
        return shape.hasTextWithNul() ? Shape::TextWithNul : Shape::Parsable;
    }
    if (!xmlFits(data))
        return Shape::Unparsable;
    return xmlHasNul(data) ? Shape::TextWithNul : Shape::Parsable;
}

bool hasParsableShape(const QByteArray &data) {
    return shapeOf(data) == Shape::Parsable;
}

} // namespace PropertyList
