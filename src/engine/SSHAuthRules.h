#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The tunnel's login decisions that depend on nothing but text.
namespace SSHAuthRules {

// A lone prompt of 8 to 10 bytes beginning with "Password" or "password" is the
// server asking for the account password (PAM's "Password: "), which the tunnel
// answers itself with the stored one. Longer prompts ("Password for x: ",
// one-time codes) go to the user.
bool isPasswordPrompt(const QByteArray &prompt);

// The sentence of a login that ran out of methods: which attempts the server
// rejected and, when some offered method was not tried, which it asked for.
// attempted and offered keep the order in which they happened / were listed.
QString failureMessage(const QStringList &attempted, const QStringList &offered);

} // namespace SSHAuthRules
