#include "ZNTFavoriteFile.h"

#include "PropertyList.h"
#include "RNCryptor/RNCryptor.h"
#include "RNCryptor/RNDecryptor.h"
#include "RNCryptor/RNEncryptor.h"
#include "engine/KesError.h"
#include "platform/Compression.h"

#include <QStringDecoder>
#include <zlib.h>

namespace ZNTFavoriteFile {

namespace {

using PropertyList::Owned;

ErrorPtr passwordError(const QString &description) {
    return Error::make(PasswordErrorDomain, 0, {{Error::DescriptionKey, description}});
}

void setString(plist_t dict, const char *key, const std::optional<QString> &value) {
    if (value)
        plist_dict_set_item(dict, key, PropertyList::newString(*value));
}

void setInteger(plist_t dict, const char *key, const std::optional<qint64> &value) {
    if (value)
        plist_dict_set_item(dict, key, PropertyList::newInteger(*value));
}

void setBool(plist_t dict, const char *key, const std::optional<bool> &value) {
    if (value)
        plist_dict_set_item(dict, key, plist_new_bool(*value));
}

// Puts a password in plain or encrypted under the matching key.
bool setPassword(plist_t dict, const char *plainKey, const char *encryptedKey, const QString &password,
                 const std::optional<QString> &exportPassword, ErrorPtr *error) {
    if (!exportPassword) {
        plist_dict_set_item(dict, plainKey, PropertyList::newString(password));
        return true;
    }
    auto container = RNEncryptor::encryptData(password.toUtf8(), RNCryptorSettings::AES256, *exportPassword, error);
    if (!container)
        return false;
    plist_dict_set_item(dict, encryptedKey, PropertyList::newData(*container));
    return true;
}

bool setHistory(plist_t dict, const std::vector<HistoryEntry> &history, const std::optional<QString> &exportPassword,
                ErrorPtr *error) {
    Owned list(plist_new_dict());
    plist_t texts = plist_new_array(), dates = plist_new_array();
    for (const HistoryEntry &entry : history) {
        plist_array_append_item(texts, PropertyList::newString(entry.text));
        plist_array_append_item(dates, PropertyList::newDate(entry.date));
    }
    plist_dict_set_item(list.get(), "texts", texts);
    plist_dict_set_item(list.get(), "dates", dates);
    const QByteArray plain = PropertyList::toBinary(list.get());
    if (plain.isEmpty())
        return failWith(error, KesError::errorWithFormat("Failed to serialize query history."));

    uLongf compressedLength = compressBound(uLong(plain.size()));
    QByteArray compressed(qsizetype(compressedLength), '\0');
    int status = compress(reinterpret_cast<Bytef *>(compressed.data()), &compressedLength,
                          reinterpret_cast<const Bytef *>(plain.constData()), uLong(plain.size()));
    if (status != Z_OK)
        return failWith(error, KesError::errorWithFormat(QString("Failed to compress history data: %1").arg(status)));
    compressed.truncate(qsizetype(compressedLength));

    const char *key = "compressedHistoryElements";
    if (exportPassword) {
        auto container = RNEncryptor::encryptData(compressed, RNCryptorSettings::AES256, *exportPassword, error);
        if (!container)
            return false;
        compressed = *container;
        key = "encryptedHistoryElements";
    }
    plist_t elements = plist_new_dict();
    plist_dict_set_item(elements, "data", PropertyList::newData(compressed));
    plist_dict_set_item(elements, "length", PropertyList::newInteger(plain.size()));
    plist_dict_set_item(dict, key, elements);
    return true;
}

} // namespace

std::optional<QByteArray> dataWithOptions(const Contents &c, quint32 options,
                                          const std::optional<QString> &exportPassword, ErrorPtr *error) {
    Owned root(plist_new_dict());
    plist_t dict = root.get();
    setString(dict, "nickname", c.nickname);
    setString(dict, "host", c.host);
    setInteger(dict, "port", c.port);
    setString(dict, "user", c.user);
    setString(dict, "database", c.database);
    if ((options & IncludePasswords) && c.password &&
        !setPassword(dict, "password", "encryptedPassword", *c.password, exportPassword, error))
        return std::nullopt;
    setBool(dict, "showAllDatabases", c.showAllDatabases);
    setBool(dict, "sshEnabled", c.sshEnabled);
    setString(dict, "sshHost", c.sshHost);
    setInteger(dict, "sshPort", c.sshPort);
    setString(dict, "sshUser", c.sshUser);
    if ((options & IncludePasswords) && c.sshPassword && !c.hasSshPrivateKey &&
        !setPassword(dict, "sshPassword", "encryptedSshPassword", *c.sshPassword, exportPassword, error))
        return std::nullopt;
    if ((options & IncludeHistory) && !setHistory(dict, c.history, exportPassword, error))
        return std::nullopt;
    plist_dict_set_item(dict, "type", PropertyList::newString(FavoriteType));
    QByteArray bytes = PropertyList::toBinary(dict);
    if (bytes.isEmpty()) {
        failWith(error, KesError::errorWithFormat("Failed to serialize favorite."));
        return std::nullopt;
    }
    return bytes;
}

namespace {

std::optional<QString> decodeUtf8(const QByteArray &bytes) {
    // A password that begins with a byte-order mark keeps it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// No text of a favorite holds a NUL: libpq and the secret store end a text
// there, so a host shown in full would not be the host reached, and the writer
// ends it there too. No file of ours holds one.
ErrorPtr nulError(const QString &what) {
    return KesError::errorWithCode(1, QStringLiteral("Not a valid Trellan favorite"),
                                   what.isEmpty() ? QStringLiteral("A text in it holds a NUL character.")
                                                  : QStringLiteral("Its %1 holds a NUL character.").arg(what));
}

struct PasswordTexts {
    const char *plainKey;
    const char *encryptedKey;
    const char *decryptionFailed;
    const char *notUtf8;
    const char *what;
};

ErrorPtr damagedError(const QString &what, const ErrorPtr &cause) {
    return KesError::errorWithCode(1, QStringLiteral("The favorite file is damaged."),
                                   QStringLiteral("Its encrypted %1 cannot be read.").arg(what), cause);
}

// Only a failed HMAC, which is what a wrong password gives, is a password
// error (and so a new question for the password): a container that no
// password could open is damaged, and asking again would never end.
std::optional<QByteArray> decryptValue(const QByteArray &container, const std::optional<QString> &password,
                                       const QString &what, const QString &wrongPassword, ErrorPtr *error) {
    if (ErrorPtr shape = RNDecryptor::passwordContainerShapeError(container)) {
        failWith(error, damagedError(what, shape));
        return std::nullopt;
    }
    if (!password) {
        failWith(error, passwordError("Password required."));
        return std::nullopt;
    }
    ErrorPtr why;
    std::optional<QByteArray> plain = RNDecryptor::decryptData(container, *password, &why);
    if (!plain) {
        const bool wrongKey = why && why->domain() == RNCryptorErrorDomain && why->code() == kRNCryptorHMACMismatch;
        failWith(error, wrongKey ? passwordError(wrongPassword) : damagedError(what, why));
    }
    return plain;
}

bool readPassword(plist_t dict, const PasswordTexts &texts, const std::optional<QString> &password, QVariantMap &params,
                  ErrorPtr *error) {
    if (auto container = PropertyList::data(plist_dict_get_item(dict, texts.encryptedKey))) {
        auto plain = decryptValue(*container, password, texts.what, texts.decryptionFailed, error);
        if (!plain)
            return false;
        auto text = decodeUtf8(*plain);
        if (!text)
            return failWith(error, KesError::errorWithFormat(texts.notUtf8));
        params.insert(texts.plainKey, *text);
    } else if (auto text = PropertyList::string(plist_dict_get_item(dict, texts.plainKey))) {
        params.insert(texts.plainKey, *text);
    }
    if (params.value(texts.plainKey).toString().contains(QChar(0)))
        return failWith(error, nulError(QLatin1String(texts.what)));
    return true;
}

// The history property list: only entries whose text is a string and whose
// date is a date are kept, so that applying the dictionary needs no checks.
bool parseHistory(const QByteArray &bytes, QVariantMap &params, ErrorPtr *error) {
    PropertyList::Shape shape;
    Owned root = PropertyList::parse(bytes, &shape);
    if (shape == PropertyList::Shape::TextWithNul)
        return failWith(error, nulError(QStringLiteral("query history")));
    plist_t texts = PropertyList::isDictionary(root.get()) ? plist_dict_get_item(root.get(), "texts") : nullptr;
    plist_t dates = PropertyList::isDictionary(root.get()) ? plist_dict_get_item(root.get(), "dates") : nullptr;
    if (!PropertyList::isArray(texts) || !PropertyList::isArray(dates) ||
        plist_array_get_size(texts) != plist_array_get_size(dates))
        return failWith(error, KesError::errorWithFormat("Invalid query history data."));
    QVariantList textList, dateList;
    for (uint32_t i = 0; i < plist_array_get_size(texts); ++i) {
        auto text = PropertyList::string(plist_array_get_item(texts, i));
        auto date = PropertyList::date(plist_array_get_item(dates, i));
        if (!text || !date)
            continue;
        if (text->contains(QChar(0)))
            return failWith(error, nulError(QStringLiteral("query history")));
        textList.append(*text);
        dateList.append(*date);
    }
    params.insert("history", QVariantMap{{"texts", textList}, {"dates", dateList}});
    return true;
}

// The length a damaged or hostile file declares is refused before anything is
// allocated, as for every history text.
bool decompressHistory(const QByteArray &compressed, qint64 length, QVariantMap &params, ErrorPtr *error) {
    std::optional<int> status;
    const auto plain = Compression::uncompressDeclared(compressed, length, &status);
    if (!plain && !status)
        return failWith(error, KesError::errorWithFormat("Failed to decompress query history data."));
    // A size other than the declared one is reported with Z_OK's code, 0.
    if (!plain || plain->size() != length)
        return failWith(error, KesError::errorWithFormat(
                                   QString("Failed to decompress query history data: %1").arg(status.value_or(Z_OK))));
    return parseHistory(*plain, params, error);
}

bool readHistory(plist_t dict, const std::optional<QString> &password, QVariantMap &params, ErrorPtr *error) {
    plist_t encrypted = plist_dict_get_item(dict, "encryptedHistoryElements");
    plist_t compressed = plist_dict_get_item(dict, "compressedHistoryElements");
    std::optional<QByteArray> bytes;
    std::optional<qint64> length;
    if (PropertyList::isDictionary(encrypted)) {
        auto container = PropertyList::data(plist_dict_get_item(encrypted, "data"));
        if (!container)
            return failWith(error, KesError::errorWithFormat("Failed to read query history."));
        bytes = decryptValue(*container, password, QStringLiteral("query history"),
                             QStringLiteral("Decryption failed."), error);
        if (!bytes)
            return false;
        length = PropertyList::integer(plist_dict_get_item(encrypted, "length"));
    } else if (PropertyList::isDictionary(compressed)) {
        bytes = PropertyList::data(plist_dict_get_item(compressed, "data"));
        length = PropertyList::integer(plist_dict_get_item(compressed, "length"));
    }
    if (!bytes || !length)
        return true; // no usable history: the file simply has none
    return decompressHistory(*bytes, *length, params, error);
}

bool copySettings(plist_t dict, QVariantMap &params, ErrorPtr *error) {
    static const std::pair<const char *, const char *> texts[] = {
        {"nickname", "name"},     {"host", "host"},        {"user", "user name"},
        {"database", "database"}, {"sshHost", "SSH host"}, {"sshUser", "SSH user name"}};
    for (const auto &[key, what] : texts) {
        if (auto value = PropertyList::string(plist_dict_get_item(dict, key))) {
            if (value->contains(QChar(0)))
                return failWith(error, nulError(QLatin1String(what)));
            params.insert(key, *value);
        }
    }
    // A port outside 1 to 65535 is dropped like a port of the wrong type,
    // never cut down to one that happens to fit.
    for (const char *key : {"port", "sshPort"})
        if (auto value = PropertyList::integer(plist_dict_get_item(dict, key)); value && *value >= 1 && *value <= 65535)
            params.insert(key, int(*value));
    for (const char *key : {"sshEnabled", "showAllDatabases"})
        if (auto value = PropertyList::boolean(plist_dict_get_item(dict, key)))
            params.insert(key, *value);
    return true;
}

} // namespace

std::optional<QVariantMap> paramsForData(const QByteArray &data, const std::optional<QString> &password,
                                         ErrorPtr *error) {
    PropertyList::Shape shape;
    Owned root = PropertyList::parse(data, &shape);
    if (shape == PropertyList::Shape::TextWithNul) {
        failWith(error, nulError(QString()));
        return std::nullopt;
    }
    if (!root) {
        failWith(error, KesError::errorWithFormat("The file is not a property list."));
        return std::nullopt;
    }
    plist_t dict = root.get();
    auto type =
        PropertyList::isDictionary(dict) ? PropertyList::string(plist_dict_get_item(dict, "type")) : std::nullopt;
    if (type != FavoriteType) {
        failWith(error, KesError::errorWithFormat("Not a valid Trellan favorite"));
        return std::nullopt;
    }
    QVariantMap params;
    const PasswordTexts databasePassword{"password", "encryptedPassword", "Decryption of password failed.",
                                         "Failed to read password.", "password"};
    const PasswordTexts sshPassword{"sshPassword", "encryptedSshPassword", "Decryption of SSH password failed.",
                                    "Failed to read SSH password.", "SSH password"};
    if (!readPassword(dict, databasePassword, password, params, error) ||
        !readPassword(dict, sshPassword, password, params, error) || !readHistory(dict, password, params, error) ||
        !copySettings(dict, params, error))
        return std::nullopt;
    // A file of which nothing is usable would import as an empty favorite.
    if (params.isEmpty()) {
        failWith(error, KesError::errorWithFormat("Not a valid Trellan favorite"));
        return std::nullopt;
    }
    return params;
}

} // namespace ZNTFavoriteFile
