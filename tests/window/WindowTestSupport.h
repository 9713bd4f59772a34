// Shared by the main-window tests: settings reset per test, pages made to
// order through the window's page factories, a beep counter and screenshots.
#pragma once

#include "TestSupport.h"
#include "model/CatalogTestSupport.h"
#include "platform/UserDefaults.h"
#include "uikit/Beep.h"
#include "uikit/UikitTestSupport.h"
#include "window/ZNTContentController.h"
#include "window/ZNTContentControllerFactory.h"
#include "window/ZNTWindowController.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace windowtest {

// The window's settings as a first start leaves them.
inline void resetWindowDefaults() {
    for (const char *key : {"ShowSidebar", "ShowRightSidebar", "LeftSidebarWidth", "RightSidebarWidth"})
        UserDefaults::standard().removeObject(QString::fromUtf8(key));
    UserDefaults::standard().registerDefaults({{"ShowSidebar", false}, {"ShowRightSidebar", false}});
}

class BeepCounter {
public:
    BeepCounter() {
        setBeepHook([this] { ++count; });
    }
    ~BeepCounter() { setBeepHook(nullptr); }
    int count = 0;
};

// A page whose capabilities a test sets: pending edits and how it answers a
// request to resign (at once, after a timer, or when the test says).
class FakePage : public ZNTContentController, public ZNTPendingChangesHolder, public ZNTReloadable {
public:
    enum class Answer { Now, AfterTimer, Held };

    explicit FakePage(std::shared_ptr<ZNTObject> item) : item(std::move(item)) {}

    std::shared_ptr<ZNTObject> item;
    bool pending = false;
    bool answerYes = true;
    Answer answer = Answer::Now;
    int asked = 0;
    int reloads = 0;
    ZNTResignationDelegate *heldDelegate = nullptr;
    std::any heldUserInfo;

    bool hasPendingChanges() const override { return pending; }
    void resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) override {
        ++asked;
        if (answer == Answer::Held) {
            heldDelegate = delegate;
            heldUserInfo = std::move(userInfo);
            return;
        }
        auto reply = [this, delegate, userInfo] {
            if (answerYes)
                pending = false;
            delegate->didResign(answerYes, userInfo);
        };
        if (answer == Answer::Now)
            reply();
        else
            QTimer::singleShot(20, this, reply);
    }
    // Answers a held request.
    void reply(bool yes) {
        if (yes)
            pending = false;
        auto *delegate = std::exchange(heldDelegate, nullptr);
        delegate->didResign(yes, heldUserInfo);
    }
    void performReload() override { ++reloads; }

protected:
    QWidget *makeView() override {
        auto *view = new QWidget;
        auto *layout = new QVBoxLayout(view);
        layout->addWidget(new QLabel(item->name()));
        return view;
    }
};

// Every page made during a test is a FakePage (or what make returns); the
// placeholders come back afterwards.
class FakePages {
public:
    explicit FakePages(std::function<ZNTContentController *(const std::shared_ptr<ZNTObject> &)> make = nullptr) {
        for (ZNTPage page : {ZNTPage::Server, ZNTPage::Database, ZNTPage::Table, ZNTPage::Row, ZNTPage::Structure,
                             ZNTPage::Query, ZNTPage::Terminal}) {
            ZNTContentControllers::setFactory(page, [this, make](const std::shared_ptr<ZNTObject> &item) {
                ZNTContentController *controller = make ? make(item) : nullptr;
                if (!controller) {
                    auto *fake = new FakePage(item);
                    made.push_back(fake);
                    controller = fake;
                }
                return controller;
            });
        }
    }
    ~FakePages() {
        for (ZNTPage page : {ZNTPage::Server, ZNTPage::Database, ZNTPage::Table, ZNTPage::Row, ZNTPage::Structure,
                             ZNTPage::Query, ZNTPage::Terminal})
            ZNTContentControllers::setFactory(page, nullptr);
    }
    // The page made for an item named name (the latest one).
    FakePage *named(const QString &name) const {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            if (*it && (*it)->item->name() == name)
                return *it;
        }
        return nullptr;
    }
    std::vector<QPointer<FakePage>> made;
};

// What the event loop does once the current event is over: objects left with
// deleteLater go.
inline void flushDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// build/tests/screenshots/window/<file>
inline void saveShot(QWidget *widget, const QString &file) {
    pumpFor(std::chrono::milliseconds(30)); // pending layouts and paints first
    EXPECT_TRUE(saveScreenshot(widget, QStringLiteral("window"), file)) << file.toStdString();
}

// The same in a dark palette, the program's (icons drawn in the palette's
// colours read the program's palette).
inline void saveDarkShot(QWidget *widget, const QString &file) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    saveShot(widget, file);
    QApplication::setPalette(before);
}

} // namespace windowtest
