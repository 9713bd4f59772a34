// Stand-ins for what the server object drives above the model: a favorite and
// main windows. The windows record what they were asked and close on request.
#pragma once

#include "TestSupport.h"
#include "model/ZNTFavoriteHandle.h"
#include "model/ZNTServer.h"
#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

class FakeFavorite : public ZNTFavoriteHandle {
public:
    ZNTFavoriteConnectionFields fields;
    QString nick;
    bool allDatabases = false;

    ZNTFavoriteConnectionFields connectionFields() const override { return fields; }
    QString nickname() const override { return nick; }
    bool showAllDatabases() const override { return allDatabases; }
    std::shared_ptr<ZNTPrefContainerHandle> prefContainerOfType(unsigned, const QString &, const QString &,
                                                                const QString &, bool) override {
        return nullptr;
    }
};

class StandInWindow : public ZNTWindowControllerHandle, public std::enable_shared_from_this<StandInWindow> {
public:
    explicit StandInWindow(std::shared_ptr<ZNTObject> item) : item(std::move(item)) {}
    std::shared_ptr<ZNTObject> item; // held strongly, as a real window holds its item
    int shown = 0;
    bool refuseClose = false;

    void showWindow() override { ++shown; }
    void performClose() override {
        if (!refuseClose)
            close();
    }
    void close() { NotificationCenter::defaultCenter().post(WillCloseNotification, shared_from_this()); }
};

// Installs a factory of stand-in windows for one test and keeps what it made.
class StandInWindows {
public:
    StandInWindows() {
        ZNTServer::setWindowControllerFactory([this](std::shared_ptr<ZNTObject> item) {
            auto window = std::make_shared<StandInWindow>(std::move(item));
            made.push_back(window);
            return window;
        });
    }
    ~StandInWindows() { ZNTServer::setWindowControllerFactory(nullptr); }
    std::vector<std::weak_ptr<StandInWindow>> made;
    std::shared_ptr<StandInWindow> at(size_t i) const { return made.at(i).lock(); }
};

// Counts the notifications of one name from one sender.
class PostCounter {
public:
    PostCounter(const QString &name, const void *sender)
        : m_token(NotificationCenter::defaultCenter().observe(name, sender, [this](const Notification &n) {
              ++count;
              last = n;
          })) {}
    int count = 0;
    Notification last;

private:
    ObserverToken m_token;
};
