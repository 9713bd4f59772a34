#pragma once

#include <QObject>
#include <QSettings>
#include <QVariantMap>
#include <memory>
#include <mutex>

// The user's settings (QSettings, "Trellan/Trellan") with a map of registered
// defaults that is read on a miss and never written to disk.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    static UserDefaults &standard();
    // A private store at path, for tests.
    explicit UserDefaults(const QString &path, QObject *parent = nullptr);

    void registerDefaults(const QVariantMap &defaults);
    QVariant objectForKey(const QString &key) const;
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;
    QVariantMap dictionaryForKey(const QString &key) const;

    void setObject(const QVariant &value, const QString &key);
    void removeObject(const QString &key);
    void synchronize();

signals:
    void changed(const QString &key);

private:
    UserDefaults();
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_registered;
    mutable std::recursive_mutex m_mutex;
};
