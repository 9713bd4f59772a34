// GLib's headers name struct members "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "SecretStore.h"

#include "Log.h"

#include <condition_variable>
#include <thread>

namespace {

const SecretSchema kSchema = {
    LibsecretStore::SchemaName,
    SECRET_SCHEMA_NONE,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

const char *const kSecretsBusName = "org.freedesktop.secrets";

} // namespace

// Cancels a GCancellable when the time is up, unless the work finished first.
// libsecret's blocking calls honour the cancellable, which is what bounds them.
class SecretDeadline {
public:
    explicit SecretDeadline(std::chrono::milliseconds limit) : m_cancellable(g_cancellable_new()) {
        m_watch = std::jthread([this, limit](std::stop_token stop) {
            std::mutex mutex;
            std::unique_lock lock(mutex);
            std::condition_variable_any wake;
            wake.wait_for(lock, stop, limit, [] { return false; });
            if (!stop.stop_requested())
                g_cancellable_cancel(m_cancellable);
        });
    }
    ~SecretDeadline() {
        m_watch.request_stop();
        m_watch.join();
        g_object_unref(m_cancellable);
    }
    SecretDeadline(const SecretDeadline &) = delete;
    SecretDeadline &operator=(const SecretDeadline &) = delete;
    GCancellable *cancellable() const { return m_cancellable; }

private:
    GCancellable *m_cancellable;
    std::jthread m_watch;
};

namespace {

// The attribute table of one pair; the bytes live as long as the table.
class Attributes {
public:
    Attributes(const QString &service, const QString &account)
        : m_service(service.toUtf8()), m_account(account.toUtf8()), m_table(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(m_table, const_cast<char *>("service"), m_service.data());
        g_hash_table_insert(m_table, const_cast<char *>("account"), m_account.data());
    }
    ~Attributes() { g_hash_table_unref(m_table); }
    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;
    GHashTable *table() const { return m_table; }

private:
    QByteArray m_service;
    QByteArray m_account;
    GHashTable *m_table;
};

struct ErrorFree {
    void operator()(GError *e) const { g_error_free(e); }
};
struct ValueFree {
    void operator()(SecretValue *v) const { secret_value_unref(v); }
};
struct ItemsFree {
    void operator()(GList *l) const { g_list_free_full(l, g_object_unref); }
};
struct VariantFree {
    void operator()(GVariant *v) const { g_variant_unref(v); }
};
using ErrorHolder = std::unique_ptr<GError, ErrorFree>;
using ValueHolder = std::unique_ptr<SecretValue, ValueFree>;
using ItemsHolder = std::unique_ptr<GList, ItemsFree>;
using VariantHolder = std::unique_ptr<GVariant, VariantFree>;

SecretStatus failure(GError *error, const SecretDeadline &deadline) {
    ErrorHolder holder(error);
    if (g_cancellable_is_cancelled(deadline.cancellable()))
        return SecretStatus::failed(error->code, QStringLiteral("the secret service did not answer in time"));
    return SecretStatus::failed(error->code, QString::fromUtf8(error->message));
}

ValueHolder textValue(const QString &text) {
    const QByteArray utf8 = text.toUtf8();
    return ValueHolder(secret_value_new(utf8.constData(), utf8.size(), "text/plain"));
}

QString valueText(SecretValue *value) {
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    return QString::fromUtf8(bytes, qsizetype(length));
}

QString itemLabel(SecretItem *item) {
    gchar *label = secret_item_get_label(item);
    QString text = QString::fromUtf8(label);
    g_free(label);
    return text;
}

// The items of one pair, or a failure. Unlocks them, and loads their secrets
// when asked to, so that a locked keyring prompts here and not later.
SecretStatus searchItems(const QString &service, const QString &account, bool loadSecrets,
                         const SecretDeadline &deadline, ItemsHolder *items) {
    Attributes attributes(service, account);
    int flags = SECRET_SEARCH_UNLOCK | SECRET_SEARCH_ALL;
    if (loadSecrets)
        flags |= SECRET_SEARCH_LOAD_SECRETS;
    GError *error = nullptr;
    GList *found = secret_service_search_sync(nullptr, &kSchema, attributes.table(), SecretSearchFlags(flags),
                                              deadline.cancellable(), &error);
    if (error) {
        g_list_free_full(found, g_object_unref);
        return failure(error, deadline);
    }
    items->reset(found);
    return found ? SecretStatus::done() : SecretStatus::absent();
}

// Whether the session bus has the Secret Service, running or startable.
bool busHasSecretService(std::chrono::milliseconds timeout, QString *reason, bool *timedOut) {
    SecretDeadline deadline(timeout);
    GError *error = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, deadline.cancellable(), &error);
    if (!bus) {
        *timedOut = g_cancellable_is_cancelled(deadline.cancellable());
        *reason = error ? QString::fromUtf8(error->message) : QStringLiteral("no session bus");
        if (error)
            g_error_free(error);
        return false;
    }
    // A session bus that goes away must not end the program with it.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    auto ask = [&](const char *method, GVariant *args, const char *replyType) -> VariantHolder {
        GVariant *reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method, args,
            G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, int(timeout.count()), deadline.cancellable(), &error);
        return VariantHolder(reply);
    };
    bool present = false;
    if (VariantHolder owner = ask("NameHasOwner", g_variant_new("(s)", kSecretsBusName), "(b)")) {
        // "b" writes a gboolean, four bytes: a bool would have three of its
        // neighbours overwritten.
        gboolean hasOwner = FALSE;
        g_variant_get(owner.get(), "(b)", &hasOwner);
        present = hasOwner;
        if (!present) {
            if (VariantHolder names = ask("ListActivatableNames", nullptr, "(as)")) {
                const gchar **list = nullptr;
                g_variant_get(names.get(), "(^a&s)", &list);
                for (const gchar **n = list; n && *n && !present; ++n)
                    present = g_strcmp0(*n, kSecretsBusName) == 0;
                g_free(list);
            }
        }
    }
    *timedOut = g_cancellable_is_cancelled(deadline.cancellable()) ||
                (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT));
    if (error) {
        *reason = QString::fromUtf8(error->message);
        g_error_free(error);
    } else if (!present) {
        *reason = QStringLiteral("nothing owns %1 on the session bus").arg(QLatin1String(kSecretsBusName));
    }
    g_object_unref(bus);
    return present;
}

} // namespace

// MARK: shared store

namespace {
std::mutex sharedMutex;
std::shared_ptr<SecretStore> sharedStore;
} // namespace

std::shared_ptr<SecretStore> SecretStore::shared() {
    std::lock_guard lock(sharedMutex);
    if (!sharedStore)
        sharedStore = std::make_shared<LibsecretStore>();
    return sharedStore;
}

void SecretStore::setShared(std::shared_ptr<SecretStore> store) {
    std::lock_guard lock(sharedMutex);
    sharedStore = std::move(store);
}

// MARK: libsecret

LibsecretStore::LibsecretStore(std::chrono::milliseconds probeTimeout, std::chrono::milliseconds callTimeout)
    : m_probeTimeout(probeTimeout), m_callTimeout(callTimeout) {}

bool LibsecretStore::serviceReachable() {
    const auto now = std::chrono::steady_clock::now();
    if (now < m_quietUntil)
        return false;
    QString reason;
    bool timedOut = false;
    const bool reachable = busHasSecretService(m_probeTimeout, &reason, &timedOut);
    if (timedOut)
        m_quietUntil = now + std::chrono::minutes(1);
    // One line when the service goes missing, not one per password asked for.
    if (!reachable && !m_reportedUnavailable)
        Log(QStringLiteral("Secret Service not available (%1): passwords are neither read nor saved.").arg(reason));
    m_reportedUnavailable = !reachable;
    return reachable;
}

// The steps every call shares: a null name answers `noName`, a missing service
// fails; otherwise body runs with the store's lock held.
template <class Body>
SecretStatus LibsecretStore::withService(const QString &service, const QString &account, SecretStatus noName,
                                         Body body) {
    if (service.isNull() || account.isNull())
        return noName;
    std::lock_guard lock(m_mutex);
    if (!serviceReachable())
        return SecretStatus::failed(SecretStore::Unavailable, QStringLiteral("no secret service"));
    SecretDeadline deadline(m_callTimeout);
    return body(deadline);
}

SecretStatus LibsecretStore::find(const QString &service, const QString &account) {
    return withService(service, account, SecretStatus::absent(), [&](SecretDeadline &deadline) {
        ItemsHolder items;
        return searchItems(service, account, false, deadline, &items);
    });
}

SecretStatus LibsecretStore::read(const QString &service, const QString &account, QString *password, QString *label) {
    return withService(service, account, SecretStatus::absent(), [&](SecretDeadline &deadline) {
        ItemsHolder items;
        SecretStatus status = searchItems(service, account, true, deadline, &items);
        if (!status.isDone())
            return status;
        auto *item = SECRET_ITEM(items->data);
        ValueHolder value(secret_item_get_secret(item));
        if (!value)
            return SecretStatus::failed(SecretStore::Locked, QStringLiteral("the item is locked"));
        if (password)
            *password = valueText(value.get());
        if (label)
            *label = itemLabel(item);
        return status;
    });
}

SecretStatus LibsecretStore::add(const QString &service, const QString &account, const QString &label,
                                 const QString &password) {
    const auto noName = SecretStatus::failed(SecretStore::BadArgument, QStringLiteral("no service or account"));
    return withService(service, account, noName, [&](SecretDeadline &deadline) {
        Attributes attributes(service, account);
        ValueHolder value = textValue(password);
        GError *error = nullptr;
        secret_service_store_sync(nullptr, &kSchema, attributes.table(), SECRET_COLLECTION_DEFAULT,
                                  label.toUtf8().constData(), value.get(), deadline.cancellable(), &error);
        return error ? failure(error, deadline) : SecretStatus::done();
    });
}

SecretStatus LibsecretStore::modify(const QString &service, const QString &account, const QString &newService,
                                    const QString &newAccount, const QString &newLabel, const QString &newPassword) {
    return withService(service, account, SecretStatus::absent(), [&](SecretDeadline &deadline) {
        return modifyLocked(service, account, newService, newAccount, newLabel, newPassword, deadline);
    });
}

SecretStatus LibsecretStore::modifyLocked(const QString &service, const QString &account, const QString &newService,
                                          const QString &newAccount, const QString &newLabel,
                                          const QString &newPassword, SecretDeadline &deadline) {
    ItemsHolder items;
    SecretStatus status = searchItems(service, account, false, deadline, &items);
    if (!status.isDone())
        return status;
    auto *item = SECRET_ITEM(items->data);
    const QString toService = newService.isNull() ? service : newService;
    const QString toAccount = newAccount.isNull() ? account : newAccount;
    const bool moves = toService != service || toAccount != account;
    if (moves) {
        // Two items for one pair would make every later look-up a coin toss.
        ItemsHolder taken;
        SecretStatus target = searchItems(toService, toAccount, false, deadline, &taken);
        if (target.isFailed())
            return target;
        if (target.isDone())
            return SecretStatus::failed(SecretStore::DuplicateItem,
                                        QStringLiteral("an item for that service and account exists"));
    }
    GError *error = nullptr;
    // The password first: when a later step fails the item still sits where the
    // caller looks for it, and holds what the caller asked to keep.
    if (!newPassword.isNull()) {
        ValueHolder value = textValue(newPassword);
        if (!secret_item_set_secret_sync(item, value.get(), deadline.cancellable(), &error))
            return failure(error, deadline);
    }
    if (!newLabel.isNull() &&
        !secret_item_set_label_sync(item, newLabel.toUtf8().constData(), deadline.cancellable(), &error))
        return failure(error, deadline);
    if (moves) {
        Attributes attributes(toService, toAccount);
        if (!secret_item_set_attributes_sync(item, &kSchema, attributes.table(), deadline.cancellable(), &error))
            return failure(error, deadline);
    }
    return SecretStatus::done();
}

SecretStatus LibsecretStore::deleteItem(const QString &service, const QString &account) {
    return withService(service, account, SecretStatus::absent(), [&](SecretDeadline &deadline) {
        Attributes attributes(service, account);
        GError *error = nullptr;
        const bool removed =
            secret_service_clear_sync(nullptr, &kSchema, attributes.table(), deadline.cancellable(), &error);
        if (error)
            return failure(error, deadline);
        return removed ? SecretStatus::done() : SecretStatus::absent();
    });
}

// MARK: memory

SecretStatus MemorySecretStore::find(const QString &service, const QString &account) {
    std::lock_guard lock(m_mutex);
    return m_items.count({service, account}) ? SecretStatus::done() : SecretStatus::absent();
}

SecretStatus MemorySecretStore::read(const QString &service, const QString &account, QString *password,
                                     QString *label) {
    std::lock_guard lock(m_mutex);
    auto it = m_items.find({service, account});
    if (it == m_items.end())
        return SecretStatus::absent();
    if (password)
        *password = it->second.password;
    if (label)
        *label = it->second.label;
    return SecretStatus::done();
}

SecretStatus MemorySecretStore::add(const QString &service, const QString &account, const QString &label,
                                    const QString &password) {
    if (service.isNull() || account.isNull())
        return SecretStatus::failed(SecretStore::BadArgument, QStringLiteral("no service or account"));
    std::lock_guard lock(m_mutex);
    m_items[{service, account}] = Item{label, password.isNull() ? QStringLiteral("") : password};
    return SecretStatus::done();
}

SecretStatus MemorySecretStore::modify(const QString &service, const QString &account, const QString &newService,
                                       const QString &newAccount, const QString &newLabel, const QString &newPassword) {
    std::lock_guard lock(m_mutex);
    auto it = m_items.find({service, account});
    if (it == m_items.end())
        return SecretStatus::absent();
    const std::pair<QString, QString> to{newService.isNull() ? service : newService,
                                         newAccount.isNull() ? account : newAccount};
    if (to != it->first && m_items.count(to))
        return SecretStatus::failed(SecretStore::DuplicateItem,
                                    QStringLiteral("an item for that service and account exists"));
    Item item = it->second;
    if (!newLabel.isNull())
        item.label = newLabel;
    if (!newPassword.isNull())
        item.password = newPassword;
    m_items.erase(it);
    m_items[to] = item;
    return SecretStatus::done();
}

SecretStatus MemorySecretStore::deleteItem(const QString &service, const QString &account) {
    std::lock_guard lock(m_mutex);
    return m_items.erase({service, account}) ? SecretStatus::done() : SecretStatus::absent();
}

std::map<std::pair<QString, QString>, MemorySecretStore::Item> MemorySecretStore::items() const {
    std::lock_guard lock(m_mutex);
    return m_items;
}
