#pragma once

#include "platform/Error.h"

#include <QString>
#include <optional>

class QFileDialog;
class QWidget;

// SQL files of the query editor and the terminal: plain UTF-8 text, no header,
// any extension. main thread (the files are a user's scripts: small, and read
// and written at once after the dialog).
namespace SQLFiles {

// Larger files are refused: the editor is for scripts, not for dumps. 32 MB,
// in the decimal unit every size is shown in.
constexpr qint64 kMaxFileSize = 32'000'000;
inline const QString kUntitledName = QStringLiteral("Untitled Query.sql");

// The text of a file; nothing, and an error that says why, for a file that
// is not a plain file, is too large, cannot be read, or is not UTF-8 text
// (every byte checked: nothing is replaced).
std::optional<QString> readText(const QString &path, ErrorPtr *error);
// Writes text as UTF-8 to a new file beside path and renames it over path,
// so a failed write leaves the file that was there.
bool writeText(const QString &path, const QString &text, ErrorPtr *error);

// The save dialog proposes the folder and name of the file loaded last
// (loadedPath), else "Untitled Query.sql" in the home folder.
struct Proposal {
    QString directory;
    QString fileName;
};
Proposal saveProposal(const QString &loadedPath);

// Window-modal file dialogs for window, deleted when closed; the caller
// connects finished and calls open().
QFileDialog *makeSavePanel(QWidget *window, const QString &loadedPath);
QFileDialog *makeOpenPanel(QWidget *window, const QString &loadedPath);

} // namespace SQLFiles
