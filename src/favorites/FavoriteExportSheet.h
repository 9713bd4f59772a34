#pragma once

#include "FavoriteFileWriting.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QCheckBox;
class QFileDialog;
class QLineEdit;
class UserDefaults;

// The export options of the save sheet: include passwords, include the query
// history, encrypt with a password. The boxes show and keep their user
// defaults ("FavoriteExportIncludePasswords", "FavoriteExportIncludeHistory",
// "FavoriteExportUseEncryption"); the password is never kept.
class ZNTFavoriteExportOptionsView : public QWidget {
    Q_OBJECT
public:
    explicit ZNTFavoriteExportOptionsView(UserDefaults &defaults, QWidget *parent = nullptr);

    QCheckBox *includePasswordCheckbox() const { return m_includePasswords; }
    QCheckBox *includeHistoryCheckbox() const { return m_includeHistory; }
    QCheckBox *encryptCheckbox() const { return m_encrypt; }
    QLineEdit *passwordField() const { return m_password; }

private:
    void bind(QCheckBox *box, const QString &key);

    UserDefaults &m_defaults;
    QCheckBox *m_includePasswords = nullptr;
    QCheckBox *m_includeHistory = nullptr;
    QCheckBox *m_encrypt = nullptr;
    QLineEdit *m_password = nullptr;
};

// What the sheet asked for, decided from its controls.
struct FavoriteExportRequest {
    quint32 options = 0;
    std::optional<QString> password; // set when encrypting
    bool missingPassword = false;    // encryption on with an empty password: nothing may be written

    static FavoriteExportRequest fromChoices(bool includePasswords, bool includeHistory, bool encrypt,
                                             const QString &password);
};

// Runs the export of one or several favorites from a window: a save sheet with
// the options, then the favorites gathered (their passwords read), the files
// written off the main thread, and the last failure shown as a sheet. main thread
class ZNTFavoriteExporter {
public:
    // Gathers the favorites' contents for the options (reading passwords as
    // needed) and calls done with them, in list order.
    using Gatherer = std::function<void(quint32 options, std::function<void(QList<FavoriteFileWriting::Item>)> done)>;

    // displayNames: one per favorite, in list order. Returns the save sheet (null
    // and a beep for no favorites); finished runs once the export has ended or
    // was cancelled.
    static QFileDialog *exportFavorites(QWidget *window, const QStringList &displayNames, Gatherer gather,
                                        UserDefaults &defaults, std::function<void()> finished = {});

    // After the sheet: checks the request, then gathers and writes to location.
    static void run(QWidget *window, int count, const QString &location, const FavoriteExportRequest &request,
                    Gatherer gather, std::function<void()> finished);
};
