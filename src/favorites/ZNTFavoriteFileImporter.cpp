#include "ZNTFavoriteFileImporter.h"

#include "ZNTFavoriteFile.h"
#include "engine/KesError.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "platform/SerialQueue.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Files are read and decrypted here: a file may be large, and each encrypted
// value costs two key derivations.
SerialQueue &fileQueue() {
    static SerialQueue queue("norvane.Trellan.favoriteFiles");
    return queue;
}

std::optional<QByteArray> readFile(const QString &path, ErrorPtr *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = KesError::errorWithCode(
            1, QStringLiteral("The file “%1” could not be opened.").arg(QFileInfo(path).fileName()),
            file.errorString());
        return std::nullopt;
    }
    const QString cannotRead = QStringLiteral("The file “%1” could not be read.").arg(QFileInfo(path).fileName());
    const QString tooLarge = QStringLiteral("It is larger than any favorite file.");
    if (file.size() > ZNTFavoriteFile::MaxFileSize) {
        *error = KesError::errorWithCode(1, cannotRead, tooLarge);
        return std::nullopt;
    }
    // At most one byte more than allowed, should the file grow or never end.
    QByteArray data = file.read(ZNTFavoriteFile::MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = KesError::errorWithCode(1, cannotRead, file.errorString());
        return std::nullopt;
    }
    if (data.size() > ZNTFavoriteFile::MaxFileSize) {
        *error = KesError::errorWithCode(1, cannotRead, tooLarge);
        return std::nullopt;
    }
    return data;
}

// The file's dictionary: without a password, else with the first known
// password that opens it.
std::optional<QVariantMap> readFavorite(const QByteArray &data, const QStringList &passwords, ErrorPtr *error) {
    if (auto params = ZNTFavoriteFile::paramsForData(data, std::nullopt, error))
        return params;
    if ((*error)->domain() != ZNTFavoriteFile::PasswordErrorDomain)
        return std::nullopt;
    for (const QString &password : passwords) {
        if (auto params = ZNTFavoriteFile::paramsForData(data, password, error))
            return params;
        if ((*error)->domain() != ZNTFavoriteFile::PasswordErrorDomain)
            return std::nullopt;
    }
    return std::nullopt;
}

bool isPasswordError(const ErrorPtr &error) {
    return error && error->domain() == ZNTFavoriteFile::PasswordErrorDomain;
}

} // namespace

ZNTFavoriteFileImporter::ZNTFavoriteFileImporter()
    : m_passwordPrompt(ZNTFavoriteFileImporterPasswordSheet), m_errorPresenter(ZNTFavoriteFileImporterErrorSheet) {}

std::shared_ptr<ZNTFavoriteFileImporter> ZNTFavoriteFileImporter::make() {
    return std::shared_ptr<ZNTFavoriteFileImporter>(new ZNTFavoriteFileImporter);
}

void ZNTFavoriteFileImporter::addFavoriteFile(const QString &path) {
    requireMainThread("ZNTFavoriteFileImporter::addFavoriteFile");
    m_filePaths.append(path);
}

void ZNTFavoriteFileImporter::startImport() {
    requireMainThread("ZNTFavoriteFileImporter::startImport");
    Main::post([self = shared_from_this()] { self->continueImport(); });
}

ZNTFavoriteFileImporter::ReadOutcome ZNTFavoriteFileImporter::readFiles(const QStringList &paths,
                                                                        const QStringList &passwords) {
    ReadOutcome outcome;
    for (const QString &path : paths) {
        ErrorPtr error;
        auto data = readFile(path, &error);
        auto params = data ? readFavorite(*data, passwords, &error) : std::nullopt;
        if (!params) {
            outcome.error = error;
            break;
        }
        outcome.dictionaries.append(*params);
    }
    return outcome;
}

void ZNTFavoriteFileImporter::continueImport() {
    fileQueue().async([self = shared_from_this(), paths = m_filePaths, passwords = m_possiblePasswords] {
        ReadOutcome outcome = readFiles(paths, passwords);
        Main::post([self, outcome = std::move(outcome)]() mutable { self->didRead(std::move(outcome)); });
    });
}

void ZNTFavoriteFileImporter::didRead(ReadOutcome outcome) {
    m_filePaths.remove(0, outcome.dictionaries.size());
    m_parameterDictionaries.append(outcome.dictionaries);
    if (m_filePaths.isEmpty()) {
        if (auto delegate = m_delegate.lock())
            delegate->favoriteFileImporterDidFinish(*this);
        return;
    }
    if (isPasswordError(outcome.error))
        promptForPassword();
    else
        m_errorPresenter(m_window, outcome.error);
}

void ZNTFavoriteFileImporter::promptForPassword() {
    const QString fileName = QFileInfo(m_filePaths.first()).completeBaseName();
    m_passwordPrompt(m_window, fileName, [self = shared_from_this()](std::optional<QString> password) {
        if (!password)
            return;
        if (!self->m_possiblePasswords.contains(*password))
            self->m_possiblePasswords.append(*password);
        Main::post([self] { self->continueImport(); });
    });
}
