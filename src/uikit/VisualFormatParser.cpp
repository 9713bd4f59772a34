#include "VisualFormatParser.h"

#include "platform/ProgramError.h"

namespace {

using Chain = VisualFormatLayout::Chain;
using Predicate = VisualFormatLayout::Predicate;

class Parser {
public:
    Parser(const QString &text, const QList<QPair<QString, QWidget *>> &views) : m_text(text), m_views(views) {}

    Chain parse() {
        Chain chain;
        if (m_text.startsWith(QLatin1String("H:")) || m_text.startsWith(QLatin1String("V:"))) {
            chain.orientation = m_text[0] == QLatin1Char('V') ? Qt::Vertical : Qt::Horizontal;
            m_pos = 2;
        }
        if (accept('|')) {
            chain.leadingEdge = true;
            connection(chain);
        } else {
            chain.gaps.push_back({});
            chain.standardGap.push_back(false);
        }
        view(chain);
        while (!atEnd()) {
            connection(chain);
            if (accept('|')) {
                chain.trailingEdge = true;
                break;
            }
            if (atEnd())
                fail("a spacing must be followed by a view or the container's edge");
            view(chain);
        }
        if (!chain.trailingEdge) {
            chain.gaps.push_back({});
            chain.standardGap.push_back(false);
        }
        if (!atEnd())
            fail("unexpected text after the container's edge");
        return chain;
    }

private:
    [[noreturn]] void fail(const char *why) const {
        throw ProgramError(kVisualFormatException,
                           QStringLiteral("Unable to parse constraint format: %1\n%2\n%3^")
                               .arg(QLatin1String(why), m_text, QString(m_pos, QLatin1Char(' ')))
                               .toStdString());
    }
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text[m_pos]; }
    bool accept(char c) {
        if (peek() != QLatin1Char(c))
            return false;
        ++m_pos;
        return true;
    }
    void expect(char c, const char *why) {
        if (!accept(c))
            fail(why);
    }

    // What comes before a view or the trailing edge: nothing, "-", "-n-", "-(...)-".
    void connection(Chain &chain) {
        QList<Predicate> predicates;
        bool standard = false;
        if (accept('-')) {
            if (peek() == QLatin1Char('(')) {
                predicates = predicateList();
                expect('-', "expected '-' after a spacing");
            } else if (peek().isDigit()) {
                predicates.append(Predicate{Predicate::Equal, number(), 1000});
                expect('-', "expected '-' after a spacing");
            } else {
                standard = true;
            }
        } else if (peek() == QLatin1Char('[') || peek() == QLatin1Char('|')) {
            predicates.append(Predicate{Predicate::Equal, 0, 1000});
        } else {
            fail("expected a spacing, a view or the container's edge");
        }
        chain.gaps.push_back(predicates);
        chain.standardGap.push_back(standard);
    }

    void view(Chain &chain) {
        expect('[', "expected a view");
        const QString name = identifier();
        QWidget *widget = nullptr;
        for (const auto &[n, w] : m_views)
            if (n == name)
                widget = w;
        if (!widget)
            fail("unknown view name");
        for (QWidget *w : chain.views)
            if (w == widget)
                fail("a view is named twice in one format");
        QList<Predicate> predicates;
        if (peek() == QLatin1Char('('))
            predicates = predicateList();
        expect(']', "expected ']'");
        chain.views.push_back(widget);
        chain.sizes.push_back(predicates);
    }

    QList<Predicate> predicateList() {
        expect('(', "expected '('");
        QList<Predicate> list;
        do {
            Predicate p;
            if (accept('=')) {
                expect('=', "expected '=='");
            } else if (accept('>')) {
                expect('=', "expected '>='");
                p.relation = Predicate::AtLeast;
            } else if (accept('<')) {
                expect('=', "expected '<='");
                p.relation = Predicate::AtMost;
            }
            if (!peek().isDigit() && peek() != QLatin1Char('-') && peek() != QLatin1Char('+'))
                fail("only numbers can be used in predicates here");
            p.constant = number();
            if (accept('@')) {
                p.priority = number();
                if (p.priority < 1 || p.priority > 1000)
                    fail("priorities run from 1 to 1000");
            }
            list.append(p);
        } while (accept(','));
        expect(')', "expected ')'");
        return list;
    }

    double number() {
        const qsizetype start = m_pos;
        if (peek() == QLatin1Char('-') || peek() == QLatin1Char('+'))
            ++m_pos;
        while (!atEnd() && (peek().isDigit() || peek() == QLatin1Char('.')))
            ++m_pos;
        bool ok = false;
        const double value = QStringView(m_text).mid(start, m_pos - start).toDouble(&ok);
        if (!ok)
            fail("expected a number");
        return value;
    }

    QString identifier() {
        const qsizetype start = m_pos;
        while (!atEnd() && (peek().isLetterOrNumber() || peek() == QLatin1Char('_')))
            ++m_pos;
        if (m_pos == start || m_text[start].isDigit())
            fail("expected a view name");
        return m_text.mid(start, m_pos - start);
    }

    const QString &m_text;
    const QList<QPair<QString, QWidget *>> &m_views;
    qsizetype m_pos = 0;
};

void checkOptions(const Chain &chain) {
    const LayoutFormatOptions horizontal =
        LayoutFormatOption::AlignAllLeft | LayoutFormatOption::AlignAllRight | LayoutFormatOption::AlignAllCenterX;
    const LayoutFormatOptions vertical =
        LayoutFormatOption::AlignAllTop | LayoutFormatOption::AlignAllBottom | LayoutFormatOption::AlignAllCenterY;
    const LayoutFormatOptions sameAxis = chain.orientation == Qt::Horizontal ? horizontal : vertical;
    if (chain.options & sameAxis)
        throw ProgramError(kVisualFormatException,
                           "Unable to parse constraint format: views can't be aligned along the format's own axis");
    const LayoutFormatOptions known = horizontal | vertical;
    if (chain.options & ~known)
        throw ProgramError(kVisualFormatException, "Unable to parse constraint format: unknown layout option");
}

} // namespace

VisualFormatLayout::Chain parseVisualFormat(const QString &text, const QList<QPair<QString, QWidget *>> &views,
                                            LayoutFormatOptions options) {
    Chain chain = Parser(text, views).parse();
    chain.options = options;
    checkOptions(chain);
    return chain;
}
