// SSHTunnel's login: public key, password and keyboard-interactive, in that
// order, each tried once while the server still offers it.
#include "KesError.h"
#include "SSHAuthRules.h"
#include "SSHKeyFile.h"
#include "SSHTunnelImpl.h"
#include "platform/Main.h"

#include <QDir>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <openssl/err.h>

namespace {

constexpr auto kAnswerWaitSlice = std::chrono::milliseconds(50);

// libssh2 frees the answers with its allocator, which is malloc by default.
void setResponse(LIBSSH2_USERAUTH_KBDINT_RESPONSE &response, const QByteArray &text) {
    response.text = static_cast<char *>(std::malloc(size_t(text.size()) + 1));
    if (!response.text) {
        response.length = 0;
        return;
    }
    std::memcpy(response.text, text.constData(), size_t(text.size()));
    response.text[text.size()] = '\0';
    response.length = unsigned(text.size());
}

} // namespace

LIBSSH2_USERAUTH_KBDINT_RESPONSE_FUNC(SSHTunnel::Impl::keyboardInteractiveResponder) {
    static_cast<Impl *>(*abstract)->answerPrompts(name, name_len, instruction, instruction_len, num_prompts, prompts,
                                                  responses);
}

bool SSHTunnel::Impl::authenticate() {
    const QString login = q->user();
    const QByteArray loginBytes = login.toUtf8();
    const auto loginLength = unsigned(loginBytes.size());
    QStringList attempted;
    attempted.reserve(3);
    for (;;) {
        q->setStatusString(QStringLiteral("List authentication methods"));
        char *list = nullptr;
        for (;;) {
            list = libssh2_userauth_list(ssh(), loginBytes.constData(), loginLength);
            if (list)
                break;
            if (libssh2_userauth_authenticated(ssh()))
                return true;
            if (session->lastErrno() != LIBSSH2_ERROR_EAGAIN)
                return fail(QStringLiteral("Authenticating to the SSH server failed. %1").arg(lastSSHErrorMessage()));
            if (!waitForConnection())
                return false;
        }
        const QStringList offered = QString::fromUtf8(list).split(QLatin1Char(','));
        auto untried = [&](const QString &method) { return offered.contains(method) && !attempted.contains(method); };

        std::optional<int> rc;
        if (!q->privateKeyPath().isEmpty() && untried(QStringLiteral("publickey"))) {
            attempted << QStringLiteral("publickey");
            rc = loginWithKey(login);
            if (!rc)
                return false;
            if (*rc == 0)
                return true;
            if (*rc == LIBSSH2_ERROR_FILE || lastSSHErrorMessage().contains(QStringLiteral("passphrase")))
                return failForKeyFile(q->privateKeyPath(), q->privateKeyPassphrase());
            continue;
        }
        if (!q->password().isEmpty() && untried(QStringLiteral("password"))) {
            q->setStatusString(QStringLiteral("Password Authentication"));
            attempted << QStringLiteral("password");
            const QByteArray secret = q->password().toUtf8();
            rc = untilDone([&] {
                return libssh2_userauth_password_ex(ssh(), loginBytes.constData(), loginLength, secret.constData(),
                                                    unsigned(secret.size()), nullptr);
            });
        } else if (untried(QStringLiteral("keyboard-interactive"))) {
            q->setStatusString(QStringLiteral("Keyboard-Interactive Authentication"));
            attempted << QStringLiteral("keyboard-interactive");
            rc = untilDone([&] {
                return libssh2_userauth_keyboard_interactive_ex(ssh(), loginBytes.constData(), loginLength,
                                                                &Impl::keyboardInteractiveResponder);
            });
        } else {
            return fail(SSHAuthRules::failureMessage(attempted, offered));
        }
        if (!rc)
            return false;
        if (*rc == 0)
            return true;
    }
}

std::optional<int> SSHTunnel::Impl::loginWithKey(const QString &login) {
    q->setStatusString(QStringLiteral("Private Key Authentication"));
    const QByteArray loginBytes = login.toUtf8();
    const QByteArray path = QFile::encodeName(q->privateKeyPath());
    const QByteArray passphrase = q->privateKeyPassphrase().toUtf8();
    // Stale entries of the crypto library's queue must not speak for this attempt.
    ERR_clear_error();
    return untilDone([&] {
        return libssh2_userauth_publickey_fromfile_ex(ssh(), loginBytes.constData(), unsigned(loginBytes.size()),
                                                      nullptr, path.constData(), passphrase.constData());
    });
}

// libssh2 gives one sentence for a wrong passphrase, a missing one and a file
// that is no key; the file itself tells them apart.
bool SSHTunnel::Impl::failForKeyFile(const QString &path, const QString &passphrase) {
    const SSHKeyFile::Protection protection = SSHKeyFile::inspect(path);
    if (protection == SSHKeyFile::Protection::Encrypted) {
        if (passphrase.isEmpty()) {
            QVariantMap info{{Error::DescriptionKey, QStringLiteral("The private key is encrypted.")}};
            return fail(Error::make(ErrorDomain, ErrorPrivateKeyEncrypted, info));
        }
        QVariantMap info{{Error::DescriptionKey, QStringLiteral("The passphrase for the private key is incorrect.")}};
        return fail(Error::make(ErrorDomain, ErrorPassphraseIncorrect, info));
    }
    QString message = QStringLiteral("The private key file ‘%1’ couldn't be read.").arg(QDir::toNativeSeparators(path));
    if (protection == SSHKeyFile::Protection::NotAKey)
        message += QStringLiteral(" Did you really choose a private key file?");
    return fail(message);
}

// Called by libssh2 inside the keyboard-interactive login, on the connecting thread.
void SSHTunnel::Impl::answerPrompts(const char *name, int nameLength, const char *instruction, int instructionLength,
                                    int count, const LIBSSH2_USERAUTH_KBDINT_PROMPT *prompts,
                                    LIBSSH2_USERAUTH_KBDINT_RESPONSE *responses) {
    const QString stored = q->password();
    if (!stored.isNull() && count == 1 &&
        SSHAuthRules::isPasswordPrompt(QByteArray(prompts[0].text, qsizetype(prompts[0].length)))) {
        setResponse(responses[0], stored.toUtf8());
        return;
    }
    if (count < 1)
        return;
    QVariantList promptList;
    for (int i = 0; i < count; ++i) {
        promptList << QVariantMap{{QStringLiteral("text"), QString::fromUtf8(prompts[i].text, prompts[i].length)},
                                  {QStringLiteral("echo"), bool(prompts[i].echo)}};
    }
    QVariantMap request{{QStringLiteral("name"), QString::fromUtf8(name, nameLength)},
                        {QStringLiteral("instruction"), QString::fromUtf8(instruction, instructionLength)},
                        {QStringLiteral("prompts"), promptList}};
    const QStringList answers = askDelegate(request);
    for (int i = 0; i < count; ++i)
        setResponse(responses[i], answers.value(i).toUtf8());
}

// The question goes to the delegate on the main thread while this thread waits
// for the lock's condition 1, which the delegate or cancel() sets.
QStringList SSHTunnel::Impl::askDelegate(const QVariantMap &request) {
    auto lock = std::make_shared<ConditionLock>(0);
    auto responses = std::make_shared<QStringList>();
    std::weak_ptr<SSHTunnelDelegate> target;
    {
        std::lock_guard guard(mutex);
        keyboardInteractiveLock = lock;
        target = delegate;
    }
    // Checked after the lock is published: a cancel() before this point is seen
    // here, one after it finds the lock and releases it.
    if (shouldCancel || target.expired())
        return {};
    std::shared_ptr<SSHTunnel> self = q->shared_from_this();
    Main::post([target, request, self, lock, responses] {
        if (auto handler = target.lock())
            handler->handleKeyboardInteractiveAuthenticationRequest(request, self, lock, responses);
        else
            lock->unlockWithCondition(1);
    });
    bool answered = false;
    while (!(answered = lock->waitForCondition(1, kAnswerWaitSlice))) {
        if (shouldCancel || pastDeadline())
            break;
    }
    // After a cancel, or unanswered by the deadline (the next wait fails), the
    // answers are not read: the delegate may still be filling them.
    if (shouldCancel || !answered)
        return {};
    return *responses;
}
