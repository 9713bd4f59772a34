// Texts a server writes into its catalog and greeting: a column's default (read
// as no default, a constant, an expression or a sequence), a check constraint
// (shown without its enclosing parentheses) and the version() text. The first
// byte's lowest bit is standard_conforming_strings; the rest is the column's
// type name and its default separated by a NUL byte (no NUL: the type "text"),
// and the whole rest also serves as check constraint and version text.
#include "FuzzSupport.h"
#include "engine/SQLExpression.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTConstraint.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const QHash<QString, QString> parameters{
        {QStringLiteral("standard_conforming_strings"), data[0] & 1 ? QStringLiteral("on") : QStringLiteral("off")}};
    const QString text = Fuzz::text(data + 1, size - 1);
    const qsizetype nul = text.indexOf(QChar(0));
    const QString typeName = nul < 0 ? QStringLiteral("text") : text.left(nul);
    const QString src = nul < 0 ? text : text.mid(nul + 1);

    const SQLExpression expression = SQLExpression::withSrc(src, typeName, parameters);
    FUZZ_CHECK((expression.kind() == SQLExpression::SQLExpressionKindNoDefault) == src.isEmpty());
    FUZZ_CHECK(expression.kind() == SQLExpression::SQLExpressionKindNoDefault || expression.src() == src);
    if (expression.kind() == SQLExpression::SQLExpressionKindExpression)
        FUZZ_CHECK(expression.string() == src);

    // What is left is shown as it is: taking parentheses off again takes none.
    const QString check = ZNTConstraint::checkWithoutEnclosingParentheses(text);
    FUZZ_CHECK(check.size() <= text.size());
    FUZZ_CHECK(ZNTConstraint::checkWithoutEnclosingParentheses(check) == check);

    (void)ZNTConnection::parseServerVersion(text);
    return 0;
}
