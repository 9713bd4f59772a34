#pragma once

#include "VisualFormatLayout.h"

#include <QString>
#include <type_traits>

class QWidget;

// One argument of a printf-style visual format: a view or a number for "%@",
// a number for "%f". Anything else is carried along only to be refused.
class FormatArgument {
public:
    enum class Kind { View, Integer, Real, Other };

    template <class W, std::enable_if_t<std::is_base_of_v<QWidget, W>, int> = 0>
    FormatArgument(W *view) : m_kind(view ? Kind::View : Kind::Other), m_view(view) {}
    template <class N, std::enable_if_t<std::is_integral_v<N>, int> = 0>
    FormatArgument(N number)
        : m_kind(Kind::Integer), m_integer(static_cast<long long>(number)), m_real(double(number)) {}
    template <class N, std::enable_if_t<std::is_floating_point_v<N>, int> = 0>
    FormatArgument(N number) : m_kind(Kind::Real), m_real(double(number)) {}
    FormatArgument(const QString &) : m_kind(Kind::Other) {}
    FormatArgument(const char *) : m_kind(Kind::Other) {}
    FormatArgument(std::nullptr_t) : m_kind(Kind::Other) {}

    Kind kind() const { return m_kind; }
    QWidget *view() const { return m_view; }
    long long integer() const { return m_integer; }
    double real() const { return m_real; }

private:
    Kind m_kind;
    QWidget *m_view = nullptr;
    long long m_integer = 0;
    double m_real = 0;
};

// A format with its arguments written in: the text a visual-format parser reads
// and the names it gives the views.
struct TranslatedFormat {
    QString text;
    QList<QPair<QString, QWidget *>> views;
};

// "%@" writes a view's name (its class name, then Class2, Class3, ... for more
// views of one class; a view passed twice gets two names) or a number ("5",
// "0.5"); "%f" writes a number with six decimals ("12.000000"); "%%" writes "%".
// Anything else, a "%" at the end, a "%@" given something that is neither view
// nor number, or too few arguments raise "InvalidFormatException".
TranslatedFormat translateConstraintFormat(const char *format, std::initializer_list<FormatArgument> arguments);

// Lays out the views named in format inside receiver, which owns the layout:
//
//     CC_addConstraintFormat(page, "V:|[%@][%@(==1)][%@]|", content, line, accessoryBar);
//     CC_addConstraintFormat(page, "H:|[%@]|", content);
//
// The views become children of receiver (a view that is another widget's child
// is refused). See VisualFormatLayout for what formats it follows; a format
// it cannot follow raises and adds nothing. main thread
void CC_addConstraintOptions(QWidget *receiver, LayoutFormatOptions options, const char *format,
                             std::initializer_list<FormatArgument> arguments);

template <class... Args> void CC_addConstraintFormat(QWidget *receiver, const char *format, Args &&...args) {
    CC_addConstraintOptions(receiver, {}, format, {FormatArgument(std::forward<Args>(args))...});
}

template <class... Args>
void CC_addConstraintOptions(QWidget *receiver, LayoutFormatOptions options, const char *format, Args &&...args) {
    CC_addConstraintOptions(receiver, options, format, {FormatArgument(std::forward<Args>(args))...});
}
