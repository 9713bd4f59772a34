#include "browser/CSVWriter.h"

#include "engine/KesError.h"
#include "platform/Posix.h"
#include "platform/ProgramError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Rows gather in memory up to this much before they go to the file: few
// system calls, little memory.
constexpr qsizetype kBufferBytes = 256 * 1024;

ErrorPtr writeError(int errorNumber) {
    return KesError::errorWithCode(
        errorNumber, QStringLiteral("Failed to write data because: %1").arg(Posix::errnoText(errorNumber)));
}

ErrorPtr fileError(const QString &what, const QString &name, int errorNumber) {
    return KesError::errorWithCode(
        errorNumber, QStringLiteral("%1 “%2” could not be created: %3").arg(what, name, Posix::errnoText(errorNumber)));
}
} // namespace

CSVWriter::CSVWriter() : m_coder(KesCoder::csvCoder()) {}

CSVWriter::~CSVWriter() {
    abandon();
}

QString CSVWriter::fileBaseName(const QString &tableName) {
    QString base = tableName;
    return base.replace(u'/', u'-');
}

bool CSVWriter::beginWithError(ErrorPtr *error) {
    if (::mkdir(QFile::encodeName(m_url).constData(), 0777) != 0)
        return failWith(error, fileError(QStringLiteral("The folder"), QFileInfo(m_url).fileName(), errno));
    return true;
}

bool CSVWriter::beginTableName(const QString &tableName, const QStringList &columnNames, ErrorPtr *error) {
    if (m_fd >= 0 && !closeFile(error))
        return false;
    const QString base = fileBaseName(tableName);
    QString name = base + QStringLiteral(".csv");
    for (int n = 2;; ++n) {
        if (!m_usedNames.contains(name)) {
            m_usedNames.insert(name);
            const QByteArray path = QFile::encodeName(QDir(m_url).filePath(name));
            // O_EXCL: a file the folder already holds under this name, perhaps in
            // other letters, is never written over.
            m_fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0)
                break;
            if (errno != EEXIST)
                return failWith(error, fileError(QStringLiteral("The file"), name, errno));
        }
        name = QStringLiteral("%1 %2.csv").arg(base).arg(n);
    }
    m_created.append(QDir(m_url).filePath(name));
    if (m_skipHeaders)
        return true;
    std::vector<Value> header;
    header.reserve(size_t(columnNames.size()));
    for (const QString &column : columnNames)
        header.push_back(Value::fromString(column));
    return writeRow(header, error);
}

bool CSVWriter::writeRow(const std::vector<Value> &row, ErrorPtr *error) {
    requireOpenTable();
    m_coder.appendRowUtf8(row, m_buffer);
    m_buffer += '\n';
    return qsizetype(m_buffer.size()) < kBufferBytes || writeBuffer(error);
}

bool CSVWriter::writeStoredRows(const RowStore &store, qsizetype first, qsizetype count,
                                const std::vector<int> &columns, ErrorPtr *error) {
    requireOpenTable();
    for (qsizetype row = first; row < first + count; ++row) {
        m_coder.appendStoredRowUtf8(store, row, columns, m_buffer);
        m_buffer += '\n';
        if (qsizetype(m_buffer.size()) >= kBufferBytes && !writeBuffer(error))
            return false;
    }
    return true;
}

void CSVWriter::requireOpenTable() const {
    if (m_fd < 0)
        throw ProgramError("IncorrectUsage",
                           "CSVWriter writes rows only between beginTableName and endTableWithError.");
}

bool CSVWriter::writeBuffer(ErrorPtr *error) {
    if (!Posix::writeAll(m_fd, QByteArray::fromRawData(m_buffer.data(), qsizetype(m_buffer.size()))))
        return failWith(error, writeError(errno));
    m_buffer.clear(); // keeps its capacity for the next rows
    return true;
}

bool CSVWriter::closeFile(ErrorPtr *error) {
    const bool written = m_buffer.empty() || writeBuffer(error);
    const int fd = std::exchange(m_fd, -1);
    m_buffer.clear();
    if (::close(fd) != 0 && written)
        return failWith(error, writeError(errno));
    return written;
}

bool CSVWriter::endTableWithError(ErrorPtr *error) {
    return m_fd < 0 || closeFile(error);
}

void CSVWriter::abandon() {
    m_buffer.clear();
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

bool CSVWriter::endWithError(ErrorPtr *error) {
    return endTableWithError(error);
}
