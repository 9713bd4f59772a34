#include "UserDefaults.h"

UserDefaults &UserDefaults::standard() {
    static UserDefaults defaults;
    return defaults;
}

UserDefaults::UserDefaults() : m_settings(std::make_unique<QSettings>("Trellan", "Trellan")) {}

UserDefaults::UserDefaults(const QString &path, QObject *parent)
    : QObject(parent), m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

void UserDefaults::registerDefaults(const QVariantMap &defaults) {
    std::lock_guard lock(m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant UserDefaults::objectForKey(const QString &key) const {
    std::lock_guard lock(m_mutex);
    QVariant v = m_settings->value(key);
    return v.isValid() ? v : m_registered.value(key);
}

bool UserDefaults::boolForKey(const QString &key) const {
    QVariant v = objectForKey(key);
    // QSettings hands back "true"/"false" text from its file; toBool reads both.
    return v.isValid() && v.toBool();
}

qint64 UserDefaults::integerForKey(const QString &key) const { return objectForKey(key).toLongLong(); }

double UserDefaults::doubleForKey(const QString &key) const { return objectForKey(key).toDouble(); }

QString UserDefaults::stringForKey(const QString &key) const {
    QVariant v = objectForKey(key);
    return v.canConvert<QString>() ? v.toString() : QString();
}

QVariantMap UserDefaults::dictionaryForKey(const QString &key) const { return objectForKey(key).toMap(); }

void UserDefaults::setObject(const QVariant &value, const QString &key) {
    {
        std::lock_guard lock(m_mutex);
        if (value.isValid())
            m_settings->setValue(key, value);
        else
            m_settings->remove(key);
    }
    emit changed(key);
}

void UserDefaults::removeObject(const QString &key) { setObject(QVariant(), key); }

void UserDefaults::synchronize() {
    std::lock_guard lock(m_mutex);
    m_settings->sync();
}
