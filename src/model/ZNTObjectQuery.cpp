#include "ZNTObjectQuery.h"

#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/ProgramError.h"

#include <cmath>

ZNTObjectQuery::ZNTObjectQuery(std::optional<ZNTObjectList> initialObjects) : m_objects(std::move(initialObjects)) {}

ZNTObjectQuery::~ZNTObjectQuery() = default;

std::optional<ZNTObjectList> ZNTObjectQuery::objects() const {
    std::lock_guard lock(m_mutex);
    return m_objects;
}

ErrorPtr ZNTObjectQuery::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void ZNTObjectQuery::cancel() {
    if (m_sqlQuery)
        m_sqlQuery->cancel();
}

void ZNTObjectQuery::start(const QString &sql, const QString &statusMessage,
                           const std::shared_ptr<ZNTConnection> &connection, bool observeResults) {
    requireMainThread("ZNTObjectQuery::executeInBackground");
    m_sqlQuery = ZNTQuery::create(sql);
    m_sqlQuery->setStatusMessage(statusMessage);
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const void *sender = m_sqlQuery.get();
    std::weak_ptr<ZNTObjectQuery> weakSelf = weak_from_this();
    if (observeResults) {
        m_observers.push_back(
            center.observe(ZNTQuery::NewResultNotification, sender, [weakSelf](const Notification &n) {
                auto self = weakSelf.lock();
                auto result = n.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey);
                if (self && result && *result && (*result)->rows())
                    self->newResult(**result);
            }));
    }
    m_observers.push_back(center.observe(ZNTQuery::NewRowNotification, sender, [weakSelf](const Notification &n) {
        auto self = weakSelf.lock();
        auto rows = n.value<RowRange>(ZNTQuery::RowsKey);
        if (!self || !rows)
            return;
        if (!self->m_collected)
            self->m_collected.emplace();
        self->newRows(*rows);
        self->publish();
    }));
    m_observers.push_back(center.observe(ZNTQuery::DoneNotification, sender, [weakSelf](const Notification &) {
        if (auto self = weakSelf.lock())
            self->queryDone();
    }));
    m_sqlQuery->executeInBackgroundOnConnection(connection, true);
}

void ZNTObjectQuery::takeRowsOfFirstResult(
    const std::function<std::shared_ptr<ZNTObject>(const RowRange &, qsizetype)> &make) {
    const auto results = m_sqlQuery ? m_sqlQuery->results() : QList<std::shared_ptr<ZNTResult>>();
    if (results.isEmpty() || !results[0]->rows())
        return;
    const RowRange all{results[0]->rows(), 0, results[0]->rows()->rowCount()};
    ZNTObjectList items;
    for (qsizetype row = collectedCount(); row < all.count; ++row)
        items << make(all, row);
    append(items);
}

void ZNTObjectQuery::append(const ZNTObjectList &items) {
    if (!m_collected)
        m_collected.emplace();
    m_collected->append(items);
}

void ZNTObjectQuery::publish() {
    {
        std::lock_guard lock(m_mutex);
        m_objects = m_collected.value_or(ZNTObjectList());
    }
    NotificationCenter::defaultCenter().post(NewObjectNotification, shared_from_this());
}

void ZNTObjectQuery::queryDone() {
    auto self = shared_from_this(); // an observer may drop the listing while it is told
    m_collected.reset();
    {
        std::lock_guard lock(m_mutex);
        if (ErrorPtr error = m_sqlQuery->error())
            m_error = error;
    }
    m_observers.clear();
    m_sqlQuery.reset();
    NotificationCenter::defaultCenter().post(DoneNotification, self);
}

QString catalogText(const RowStore &rows, qsizetype row, int column) {
    if (column < 0 || column >= rows.columnCount())
        return QString();
    const Value value = rows.valueAt(row, column);
    return value.kind() == Value::Kind::String ? value.toString() : QString();
}

QString catalogText(const RowRange &rows, qsizetype row, int column) {
    return catalogText(*rows.store, rows.firstRow + row, column);
}

qint64 catalogInteger(const RowRange &rows, qsizetype row, int column) {
    if (column >= rows.store->columnCount())
        return 0;
    const Value value = rows.valueAt(row, column);
    switch (value.kind()) {
    case Value::Kind::Int:
        return value.toInt();
    case Value::Kind::Float:
        return std::isfinite(value.toFloat()) ? qint64(value.toFloat()) : 0;
    case Value::Kind::Double:
        return std::isfinite(value.toDouble()) ? qint64(value.toDouble()) : 0;
    default:
        return 0;
    }
}
