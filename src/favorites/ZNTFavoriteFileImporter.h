#pragma once

#include "platform/Error.h"

#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class ZNTFavoriteFileImporter;

class ZNTFavoriteFileImporterDelegate {
public:
    virtual ~ZNTFavoriteFileImporterDelegate() = default;
    // Every file was read; the importer's parameterDictionaries hold them.
    virtual void favoriteFileImporterDidFinish(ZNTFavoriteFileImporter &importer) = 0;
};

// Imports a batch of favorite files one after another. A file encrypted with an
// export password is tried with every password typed so far, and when none
// opens it the user is asked for its password in a sheet on the window. When
// every file has been read the delegate gets all their parameter dictionaries at
// once; an error (shown on the window) or a cancelled prompt ends the import
// without telling it. Files are read and decrypted off the main thread. The
// importer keeps itself alive while it works. main thread
class ZNTFavoriteFileImporter : public std::enable_shared_from_this<ZNTFavoriteFileImporter> {
public:
    // Asks for the password of the file (its name without folder and
    // extension); answer gets the typed text, or nothing when cancelled.
    using PasswordPrompt = std::function<void(QWidget *window, const QString &fileName,
                                              std::function<void(std::optional<QString>)> answer)>;
    using ErrorPresenter = std::function<void(QWidget *window, const ErrorPtr &error)>;

    static std::shared_ptr<ZNTFavoriteFileImporter> make();

    void setDelegate(std::weak_ptr<ZNTFavoriteFileImporterDelegate> delegate) { m_delegate = std::move(delegate); }
    void setWindow(QWidget *window) { m_window = window; }
    QWidget *window() const { return m_window; }
    // Where the delegate is to insert the favorites; the importer only keeps it.
    void setTargetIndex(std::optional<int> index) { m_targetIndex = index; }
    std::optional<int> targetIndex() const { return m_targetIndex; }

    void addFavoriteFile(const QString &path);
    // Starts on the next turn of the event loop.
    void startImport();

    QStringList filePaths() const { return m_filePaths; }
    QStringList possiblePasswords() const { return m_possiblePasswords; }
    const QList<QVariantMap> &parameterDictionaries() const { return m_parameterDictionaries; }

    // How the importer asks and reports; sheets on the window unless replaced.
    void setPasswordPrompt(PasswordPrompt prompt) { m_passwordPrompt = std::move(prompt); }
    void setErrorPresenter(ErrorPresenter presenter) { m_errorPresenter = std::move(presenter); }

    // What one pass over the files got: the dictionaries of the files read, in
    // order, and the error that stopped it (null when all were read). Any thread.
    struct ReadOutcome {
        QList<QVariantMap> dictionaries;
        ErrorPtr error;
    };
    static ReadOutcome readFiles(const QStringList &paths, const QStringList &passwords);

private:
    ZNTFavoriteFileImporter();
    void continueImport();
    void didRead(ReadOutcome outcome);
    void promptForPassword();

    QStringList m_filePaths;
    QStringList m_possiblePasswords;
    std::weak_ptr<ZNTFavoriteFileImporterDelegate> m_delegate;
    QPointer<QWidget> m_window;
    std::optional<int> m_targetIndex;
    QList<QVariantMap> m_parameterDictionaries;
    PasswordPrompt m_passwordPrompt;
    ErrorPresenter m_errorPresenter;
};

// The sheets the importer uses unless told otherwise.
void ZNTFavoriteFileImporterPasswordSheet(QWidget *window, const QString &fileName,
                                          std::function<void(std::optional<QString>)> answer);
void ZNTFavoriteFileImporterErrorSheet(QWidget *window, const ErrorPtr &error);
