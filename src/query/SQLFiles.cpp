#include "SQLFiles.h"

#include "engine/KesError.h"
#include "engine/SizeFormatting.h"
#include "uikit/SheetFocus.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace SQLFiles {

namespace {
ErrorPtr openError(const QString &path, const QString &reason) {
    return KesError::errorWithCode(
        1, QStringLiteral("The file “%1” couldn’t be opened.").arg(QFileInfo(path).fileName()), reason);
}

QFileDialog *makePanel(QWidget *window, const QString &title, bool save) {
    auto *panel = new QFileDialog(window, title);
    panel->setOption(QFileDialog::DontUseNativeDialog); // a sheet of this window, as every file dialog here
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    panel->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    uv_returnFocusAfterSheet(panel);
    return panel;
}
} // namespace

std::optional<QString> readText(const QString &path, ErrorPtr *error) {
    const QFileInfo info(path);
    if (!info.isFile()) {
        *error = openError(path, QStringLiteral("It is not a plain file."));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = openError(path, file.errorString());
        return std::nullopt;
    }
    // One byte more than allowed tells a file that is too large, also one
    // that grew since it was looked at.
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = openError(path, file.errorString());
        return std::nullopt;
    }
    if (bytes.size() > kMaxFileSize) {
        *error = openError(path, QStringLiteral("It is larger than %1, more than the query editor opens.")
                                     .arg(stringFromSize(kMaxFileSize)));
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        *error = openError(path, QStringLiteral("Its text is not UTF-8."));
        return std::nullopt;
    }
    return text;
}

bool writeText(const QString &path, const QString &text, ErrorPtr *error) {
    const QByteArray bytes = text.toUtf8();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = KesError::errorWithCode(
        1, QStringLiteral("The file “%1” couldn’t be saved.").arg(QFileInfo(path).fileName()), file.errorString());
    return false;
}

Proposal saveProposal(const QString &loadedPath) {
    if (loadedPath.isEmpty())
        return {QDir::homePath(), kUntitledName};
    const QFileInfo info(loadedPath);
    return {info.absolutePath(), info.fileName()};
}

QFileDialog *makeSavePanel(QWidget *window, const QString &loadedPath) {
    QFileDialog *panel = makePanel(window, QStringLiteral("Save Query"), true);
    const Proposal proposal = saveProposal(loadedPath);
    panel->setDirectory(QFileInfo(proposal.directory).isDir() ? proposal.directory : QDir::homePath());
    panel->selectFile(proposal.fileName);
    return panel;
}

QFileDialog *makeOpenPanel(QWidget *window, const QString &loadedPath) {
    QFileDialog *panel = makePanel(window, QStringLiteral("Load Query"), false);
    panel->setNameFilters({QStringLiteral("All Files (*)"), QStringLiteral("SQL Files (*.sql)")});
    const QString directory = loadedPath.isEmpty() ? QString() : QFileInfo(loadedPath).absolutePath();
    panel->setDirectory(!directory.isEmpty() && QFileInfo(directory).isDir() ? directory : QDir::homePath());
    return panel;
}

} // namespace SQLFiles
