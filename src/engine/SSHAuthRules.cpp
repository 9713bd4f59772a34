#include "SSHAuthRules.h"

namespace SSHAuthRules {

namespace {

// "a", "a and b", "a, b and c" (with "or" in place of "and" as asked).
QString joinedList(const QStringList &items, const QString &lastJoiner) {
    if (items.size() <= 1)
        return items.value(0);
    QStringList head = items.mid(0, items.size() - 1);
    return head.join(QStringLiteral(", ")) + QLatin1Char(' ') + lastJoiner + QLatin1Char(' ') + items.last();
}

} // namespace

bool isPasswordPrompt(const QByteArray &prompt) {
    if (prompt.size() < 8 || prompt.size() > 10)
        return false;
    return prompt.startsWith("Password") || prompt.startsWith("password");
}

QString failureMessage(const QStringList &attempted, const QStringList &offered) {
    QString message = QStringLiteral("Failed to authenticate to SSH server.");
    if (!attempted.isEmpty()) {
        message += QStringLiteral(" The server rejected ");
        if (attempted.size() == 1)
            message += QStringLiteral("a ");
        message += joinedList(attempted, QStringLiteral("and"));
        message += QStringLiteral(" authentication attempt");
        if (attempted.size() >= 2)
            message += QLatin1Char('s');
        message += QLatin1Char('.');
    }
    bool untried = false;
    for (const QString &method : offered)
        untried = untried || !attempted.contains(method);
    if (untried)
        message += QStringLiteral(" The server requested ") + joinedList(offered, QStringLiteral("or")) +
                   QStringLiteral(" authentication.");
    return message;
}

} // namespace SSHAuthRules
