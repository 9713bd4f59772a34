#include "ZNTResult.h"

std::shared_ptr<ZNTResult> ZNTResult::create() {
    return std::make_shared<ZNTResult>();
}

std::shared_ptr<ZNTResult> ZNTResult::make(const QString &message, const QString &type) {
    auto result = create();
    result->setString(message);
    result->setResultType(type);
    return result;
}

std::shared_ptr<ZNTResult> ZNTResult::emptyQueryResult() {
    return make(QStringLiteral("The query was empty."), QStringLiteral("error"));
}

std::shared_ptr<ZNTResult> ZNTResult::fatalErrorResult() {
    return make(QStringLiteral("A fatal error occurred."), QStringLiteral("error"));
}

std::shared_ptr<ZNTResult> ZNTResult::noticeResult() {
    return make(QStringLiteral("A notice occurred."), QStringLiteral("notice"));
}

std::shared_ptr<ZNTResult> ZNTResult::commandOkResult() {
    return make(QStringLiteral("The command was executed successfully."), QStringLiteral("success"));
}

std::shared_ptr<ZNTResult> ZNTResult::invalidResult() {
    return make(QStringLiteral("Invalid result returned."), QStringLiteral("error"));
}

qsizetype ZNTResult::columnNumberForName(const QString &name) const {
    std::lock_guard lock(m_mutex);
    auto cached = m_columnNumbersForNames.constFind(name);
    if (cached != m_columnNumbersForNames.constEnd())
        return *cached;
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i] && m_columns[i]->name() == name) {
            if (m_columnNumbersForNames.isEmpty())
                m_columnNumbersForNames.reserve(m_columns.size());
            m_columnNumbersForNames.insert(name, i);
            return i;
        }
    }
    return NotFound;
}

QString ZNTResult::string() const {
    std::lock_guard lock(m_mutex);
    return m_string;
}

void ZNTResult::setString(const QString &string) {
    QString trimmed = string.trimmed();
    std::lock_guard lock(m_mutex);
    m_string = std::move(trimmed);
}

ZNTColumnList ZNTResult::columns() const {
    std::lock_guard lock(m_mutex);
    return m_columns;
}

void ZNTResult::setColumns(const ZNTColumnList &columns) {
    std::lock_guard lock(m_mutex);
    m_columns = columns;
    m_columnNumbersForNames.clear();
}

std::shared_ptr<const RowStore> ZNTResult::rows() const {
    std::lock_guard lock(m_mutex);
    return m_rows;
}

void ZNTResult::setRows(std::shared_ptr<const RowStore> rows) {
    std::lock_guard lock(m_mutex);
    m_rows = std::move(rows);
}

QString ZNTResult::resultType() const {
    std::lock_guard lock(m_mutex);
    return m_resultType;
}

void ZNTResult::setResultType(const QString &type) {
    std::lock_guard lock(m_mutex);
    m_resultType = type;
}

qint64 ZNTResult::affectedRows() const {
    std::lock_guard lock(m_mutex);
    return m_affectedRows;
}

void ZNTResult::setAffectedRows(qint64 rows) {
    std::lock_guard lock(m_mutex);
    m_affectedRows = rows;
}

bool ZNTResult::isLibpqError() const {
    std::lock_guard lock(m_mutex);
    return m_libpqError;
}

void ZNTResult::setLibpqError(bool libpq) {
    std::lock_guard lock(m_mutex);
    m_libpqError = libpq;
}

ZNTValueStyles ZNTResult::valueStyles() const {
    std::lock_guard lock(m_mutex);
    return m_valueStyles;
}

void ZNTResult::setValueStyles(const ZNTValueStyles &styles) {
    std::lock_guard lock(m_mutex);
    m_valueStyles = styles;
}

QString ZNTResult::description() const {
    std::lock_guard lock(m_mutex);
    return QString::asprintf("<ZNTResult: 0x%8llx message=", static_cast<unsigned long long>(quintptr(this))) +
           m_string + QStringLiteral(" numRows=%1>").arg(m_rows ? m_rows->rowCount() : 0);
}
