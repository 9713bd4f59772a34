#include "ConciseConstraints.h"

#include "platform/ProgramError.h"

#include <QLocale>
#include <QWidget>

namespace {

[[noreturn]] void invalidFormat(const char *reason) {
    throw ProgramError("InvalidFormatException", reason);
}

QString nameFor(QWidget *view, const QList<QPair<QString, QWidget *>> &taken) {
    const QString base = QString::fromLatin1(view->metaObject()->className());
    auto used = [&](const QString &name) {
        return std::any_of(taken.begin(), taken.end(), [&](const auto &pair) { return pair.first == name; });
    };
    if (!used(base))
        return base;
    for (int n = 2;; ++n) {
        const QString candidate = base + QString::number(n);
        if (!used(candidate))
            return candidate;
    }
}

} // namespace

TranslatedFormat translateConstraintFormat(const char *format, std::initializer_list<FormatArgument> arguments) {
    static const char *const kUnsupported =
        "ConciseConstraints only supports %@ (for QWidgets and numbers) and %f (float/double).";
    TranslatedFormat out;
    auto next = arguments.begin();
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            out.text += QLatin1Char(*p);
            continue;
        }
        const char directive = p[1];
        if (directive == '%') {
            out.text += QLatin1Char('%');
        } else if (directive == '@' || directive == 'f') {
            if (next == arguments.end())
                invalidFormat("The format names more arguments than were given.");
            const FormatArgument &arg = *next++;
            if (directive == 'f' &&
                (arg.kind() == FormatArgument::Kind::Integer || arg.kind() == FormatArgument::Kind::Real)) {
                out.text += QString::asprintf("%f", arg.real());
            } else if (directive == 'f') {
                invalidFormat("%f needs a number");
            } else if (arg.kind() == FormatArgument::Kind::View) {
                const QString name = nameFor(arg.view(), out.views);
                out.views.append({name, arg.view()});
                out.text += name;
            } else if (arg.kind() == FormatArgument::Kind::Integer) {
                out.text += QString::number(arg.integer());
            } else if (arg.kind() == FormatArgument::Kind::Real) {
                out.text += QString::number(arg.real(), 'g', QLocale::FloatingPointShortest);
            } else {
                invalidFormat("Object must be view or number");
            }
        } else {
            invalidFormat(kUnsupported);
        }
        ++p; // the directive's character
    }
    return out;
}

void CC_addConstraintOptions(QWidget *receiver, LayoutFormatOptions options, const char *format,
                             std::initializer_list<FormatArgument> arguments) {
    requireMainThread("CC_addConstraintOptions");
    const TranslatedFormat translated = translateConstraintFormat(format, arguments);
    VisualFormatLayout::forWidget(receiver)->addFormat(translated.text, translated.views, options);
}
