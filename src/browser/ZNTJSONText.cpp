#include "ZNTJSONText.h"

#include <vector>

namespace {

bool isSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool isHex(QChar c) {
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Writes the indented text, or only counts it; gives up past the limit.
class Writer {
public:
    explicit Writer(QString *out) : m_out(out) {}
    bool append(QStringView text) {
        m_length += text.size();
        if (m_length > ZNTJSONText::kMaxIndentedLength)
            return false;
        if (m_out)
            m_out->append(text);
        return true;
    }
    bool newline(qsizetype depth) {
        m_length += 1 + 4 * depth;
        if (m_length > ZNTJSONText::kMaxIndentedLength)
            return false;
        if (m_out) {
            m_out->append(u'\n');
            m_out->append(QString(4 * depth, u' '));
        }
        return true;
    }

private:
    QString *m_out;
    qsizetype m_length = 0;
};

// The end of the string that starts at pos (its opening quote), or -1.
qsizetype stringEnd(QStringView text, qsizetype pos) {
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"')
            return i + 1;
        if (c.unicode() < 0x20)
            return -1;
        if (c != u'\\')
            continue;
        if (++i >= text.size())
            return -1;
        const QChar e = text[i];
        if (e == u'u') {
            for (int k = 1; k <= 4; ++k)
                if (i + k >= text.size() || !isHex(text[i + k]))
                    return -1;
            i += 4;
        } else if (!QStringView(u"\"\\/bfnrt").contains(e)) {
            return -1;
        }
    }
    return -1;
}

qsizetype digitsEnd(QStringView text, qsizetype pos) {
    while (pos < text.size() && isDigit(text[pos]))
        ++pos;
    return pos;
}

// The end of the number that starts at pos, or -1.
qsizetype numberEnd(QStringView text, qsizetype pos) {
    qsizetype i = pos;
    if (i < text.size() && text[i] == u'-')
        ++i;
    if (i >= text.size() || !isDigit(text[i]))
        return -1;
    i = text[i] == u'0' ? i + 1 : digitsEnd(text, i);
    if (i < text.size() && text[i] == u'.') {
        const qsizetype end = digitsEnd(text, i + 1);
        if (end == i + 1)
            return -1;
        i = end;
    }
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        const qsizetype end = digitsEnd(text, i);
        if (end == i)
            return -1;
        i = end;
    }
    return i;
}

// The end of the scalar token at pos (string, number, true, false, null), or -1.
qsizetype scalarEnd(QStringView text, qsizetype pos) {
    if (pos >= text.size())
        return -1;
    if (text[pos] == u'"')
        return stringEnd(text, pos);
    for (QStringView word : {QStringView(u"true"), QStringView(u"false"), QStringView(u"null")})
        if (text.mid(pos).startsWith(word))
            return pos + word.size();
    return numberEnd(text, pos);
}

// One pass over the text, writing (or counting) its indented form: a state
// machine over a stack of the open objects and arrays.
class Formatter {
public:
    Formatter(QStringView text, Writer &out) : m_text(text), m_out(out) {}

    bool run() {
        while (true) {
            while (m_pos < m_text.size() && isSpace(m_text[m_pos]))
                ++m_pos;
            if (m_expect == Expect::Done)
                return m_pos == m_text.size();
            if (m_pos >= m_text.size() || !step(m_text[m_pos]))
                return false;
        }
    }

private:
    enum class Expect { Value, ElementOrEnd, KeyOrEnd, Key, Colon, CommaOrEnd, Done };
    struct Frame {
        bool object;
        bool empty = true;
    };

    bool step(QChar c) {
        switch (m_expect) {
        case Expect::ElementOrEnd:
            if (c == u']')
                return close(c);
            return m_out.newline(depth()) && value(c);
        case Expect::Value:
            return value(c);
        case Expect::KeyOrEnd:
            if (c == u'}')
                return close(c);
            return key(c);
        case Expect::Key:
            return key(c);
        case Expect::Colon:
            if (c != u':' || !m_out.append(u": "))
                return false;
            ++m_pos;
            m_expect = Expect::Value;
            return true;
        case Expect::CommaOrEnd:
            return commaOrEnd(c);
        case Expect::Done:
            break;
        }
        return false;
    }

    qsizetype depth() const { return qsizetype(m_stack.size()); }

    void afterValue() { m_expect = m_stack.empty() ? Expect::Done : Expect::CommaOrEnd; }

    bool value(QChar c) {
        if (!m_stack.empty())
            m_stack.back().empty = false;
        if (c == u'{' || c == u'[') {
            if (depth() >= ZNTJSONText::kMaxDepth)
                return false;
            m_stack.push_back({c == u'{'});
            m_expect = c == u'{' ? Expect::KeyOrEnd : Expect::ElementOrEnd;
            ++m_pos;
            return m_out.append(QStringView(&c, 1));
        }
        const qsizetype end = scalarEnd(m_text, m_pos);
        if (end < 0 || !m_out.append(m_text.mid(m_pos, end - m_pos)))
            return false;
        m_pos = end;
        afterValue();
        return true;
    }

    bool key(QChar c) {
        const qsizetype end = c == u'"' ? stringEnd(m_text, m_pos) : -1;
        if (end < 0 || !m_out.newline(depth()) || !m_out.append(m_text.mid(m_pos, end - m_pos)))
            return false;
        m_stack.back().empty = false;
        m_pos = end;
        m_expect = Expect::Colon;
        return true;
    }

    bool commaOrEnd(QChar c) {
        const bool object = m_stack.back().object;
        if (c == (object ? u'}' : u']'))
            return close(c);
        if (c != u',' || !m_out.append(u","))
            return false;
        ++m_pos;
        m_expect = object ? Expect::Key : Expect::Value;
        if (object)
            return true;
        // An element must follow the comma, not the bracket.
        while (m_pos < m_text.size() && isSpace(m_text[m_pos]))
            ++m_pos;
        return m_pos < m_text.size() && m_text[m_pos] != u']' && m_out.newline(depth());
    }

    bool close(QChar bracket) {
        const bool empty = m_stack.back().empty;
        m_stack.pop_back();
        ++m_pos;
        afterValue();
        return (empty || m_out.newline(depth())) && m_out.append(QStringView(&bracket, 1));
    }

    QStringView m_text;
    Writer &m_out;
    qsizetype m_pos = 0;
    Expect m_expect = Expect::Value;
    std::vector<Frame> m_stack;
};

bool format(QStringView text, Writer &out) {
    return Formatter(text, out).run();
}

} // namespace

namespace ZNTJSONText {

bool canIndent(QStringView text) {
    Writer counter(nullptr);
    return format(text, counter);
}

std::optional<QString> indented(QStringView text) {
    QString out;
    Writer writer(&out);
    if (!format(text, writer))
        return std::nullopt;
    return out;
}

} // namespace ZNTJSONText
