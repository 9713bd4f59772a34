// Shared by the tests of the server and database pages.
#pragma once

#include "browser/BrowserPages.h"
#include "window/WindowTestSupport.h"

namespace overviewtest {

// build/tests/screenshots/browser/<base>.png, and <base>-dark.png in the dark palette.
inline void saveShots(QWidget *widget, const QString &base) {
    pumpFor(std::chrono::milliseconds(30)); // pending layouts and paints first
    EXPECT_TRUE(saveScreenshot(widget, QStringLiteral("browser"), base + QStringLiteral(".png")));
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkPalette());
    pumpFor(std::chrono::milliseconds(30));
    EXPECT_TRUE(saveScreenshot(widget, QStringLiteral("browser"), base + QStringLiteral("-dark.png")));
    QApplication::setPalette(before);
}

// Installs the browser's pages for one test, and takes them away after it. A
// table opens on the placeholder: what a table's own page does is not tried here.
class InstalledPages {
public:
    InstalledPages() {
        BrowserPages::install();
        ZNTContentControllers::setFactory(ZNTPage::Table, nullptr);
    }
    ~InstalledPages() {
        for (ZNTPage page : {ZNTPage::Server, ZNTPage::Database, ZNTPage::Table})
            ZNTContentControllers::setFactory(page, nullptr);
    }
};

} // namespace overviewtest
