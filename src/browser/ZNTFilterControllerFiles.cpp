// The filter bar's files: saving its filters as a ".pfltr" file and loading
// them back, each through a window-modal file dialog.
#include "ZNTFilterController.h"
#include "ZNTFilterFile.h"
#include "engine/KesError.h"
#include "uikit/AlertSheet.h"
#include "uikit/SheetFocus.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>

namespace {
// One place for every bar of the process, forgotten when it ends.
QString &filterDirectory() {
    static QString directory;
    return directory;
}

void presentError(QWidget *window, const ErrorPtr &error) {
    Alert::alertWithError(*error)->compatibleBeginSheetModalForWindow(window, nullptr);
}

// The bytes of a filter file, read only when the file is a plain file of a size
// a filter file can have.
std::optional<QByteArray> readBoundedFile(const QString &path, ErrorPtr *error) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (!info.isFile()) {
        *error = KesError::errorWithCode(1, QStringLiteral("The file “%1” couldn’t be opened.").arg(name),
                                         QStringLiteral("It is not a plain file."));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = KesError::errorWithCode(1, QStringLiteral("The file “%1” couldn’t be opened.").arg(name),
                                         file.errorString());
        return std::nullopt;
    }
    // One byte more than a filter file may hold tells a file that is too large,
    // also one that grew since it was looked at.
    QByteArray data = file.read(ZNTFilterFile::kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *error =
            KesError::errorWithCode(1, QStringLiteral("The file “%1” couldn’t be read.").arg(name), file.errorString());
        return std::nullopt;
    }
    return data;
}
} // namespace

QString ZNTFilterController::rememberedFilterDirectory() {
    return filterDirectory();
}

QFileDialog *ZNTFilterController::makePanel(bool save) {
    auto *panel = new QFileDialog(window(), save ? tr("Save Filters") : tr("Load Filters"));
    panel->setOption(QFileDialog::DontUseNativeDialog); // a sheet of this window, as every file dialog here
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    panel->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    panel->setNameFilter(tr("Filter files (*.%1)").arg(ZNTFilterFile::FileExtension));
    panel->setDefaultSuffix(ZNTFilterFile::FileExtension);
    const bool remembered = !filterDirectory().isEmpty() && QFileInfo(filterDirectory()).isDir();
    panel->setDirectory(remembered ? filterDirectory() : QDir::homePath());
    if (save)
        panel->selectFile(tr("Table Filter") + u'.' + ZNTFilterFile::FileExtension);
    uv_returnFocusAfterSheet(panel);
    m_panel = panel;
    return panel;
}

void ZNTFilterController::saveFilter() {
    if (!endEditingOrBeep() || m_panel)
        return;
    const QByteArray data = ZNTFilterFile::dataOfDictionaries(dictionaryRepresentations());
    QFileDialog *panel = makePanel(true);
    connect(panel, &QFileDialog::finished, this, [this, panel, data](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty())
            return;
        filterDirectory() = panel->directory().absolutePath();
        writeFilterFile(chosen.first(), data);
    });
    panel->open();
}

void ZNTFilterController::writeFilterFile(const QString &path, const QByteArray &data) {
    // A new file renamed over the old one: a failed write leaves the old file.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return;
    presentError(window(), KesError::errorWithCode(
                               1, QStringLiteral("The file “%1” couldn’t be saved.").arg(QFileInfo(path).fileName()),
                               file.errorString()));
}

void ZNTFilterController::loadFilter() {
    if (!endEditingOrBeep() || m_panel)
        return;
    QFileDialog *panel = makePanel(false);
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty())
            return;
        filterDirectory() = panel->directory().absolutePath();
        readFilterFile(chosen.first());
    });
    panel->open();
}

void ZNTFilterController::readFilterFile(const QString &path) {
    ErrorPtr error;
    const std::optional<QByteArray> data = readBoundedFile(path, &error);
    const std::optional<QVariant> value = data ? ZNTFilterFile::valueOfData(*data, &error) : std::nullopt;
    if (!value) {
        presentError(window(), error);
        return;
    }
    // The rows are not run: the user runs the loaded filters when ready.
    if (!loadDictionaryRepresentations(*value))
        showUnreadableFile();
}

void ZNTFilterController::showUnreadableFile() {
    Alert *alert = Alert::alertWithMessageText(tr("Failed to read file"), tr("OK"), {}, {},
                                               tr("The filter file could not be read."));
    alert->compatibleBeginSheetModalForWindow(window(), nullptr);
}
