#pragma once

#include "ZNTObject.h"

// A tablespace of a server, by name: a value the tablespace listing and the
// table metadata hand out, not a place to navigate to. Equal only to itself.
class Tablespace : public ZNTObject, public std::enable_shared_from_this<Tablespace> {
public:
    static std::shared_ptr<Tablespace> create(const QString &name) {
        return std::shared_ptr<Tablespace>(new Tablespace(name));
    }

    QString name() const override { return m_name; }
    std::shared_ptr<ZNTObject> parent() const override { return nullptr; }
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Tablespace; }
    // A tablespace is its own copy.
    std::shared_ptr<Tablespace> copy() { return shared_from_this(); }

private:
    explicit Tablespace(QString name) : m_name(std::move(name)) {}
    const QString m_name;
};
