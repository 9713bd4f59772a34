#include "FavoritesWindowTestSupport.h"
#include "favorites/FavoritePadDelegate.h"
#include "favorites/FavoriteSettingsForm.h"
#include "uikit/ReadableScrollBarStyle.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyleFactory>

class FavoritesWindowScreenshot : public FavoritesWindowFixture, public ::testing::WithParamInterface<bool> {};

// Three favorites: one plain, one whose connect failed, one being edited with
// SSH on. The favorite Return connects stands out from the others, the rows
// must take the heights the list gives them, in a dark palette nothing may be
// drawn on a light ground, and the form's check boxes and fields show their
// outlines in either palette.
TEST_P(FavoritesWindowScreenshot, ThreeFavoritesOneFailedOneEdited) {
    const bool dark = GetParam();
    const QPalette saved = QApplication::palette();
    QApplication::setStyle(new ReadableScrollBarStyle(QStyleFactory::create("Fusion")));
    if (dark)
        QApplication::setPalette(darkPalette());
    auto prod = addFavorite("Production", "db.example.org", "alice", "shop");
    prod->setColorIndex(6);
    auto failed = addFavorite("Reporting", "reports.example.org", "bob", "sales");
    auto edited = addFavorite("Staging", "10.0.4.12", "deploy", "shop");
    edited->setSshEnabled(true);
    edited->setSshHost("gw.example.org");
    edited->setColorIndex(2);
    openWindow();
    controller->window()->resize(480, 720);
    ZNTFavoritesTable *table = controller->table();
    auto edgeOf = [&](int row, qreal ratio) {
        const QRect pad = FavoritePadDelegate::padRect(table->visualRect(model()->index(row)));
        const QPoint left = table->viewport()->mapTo(controller->window(), pad.topLeft() + QPoint(-1, 20));
        return QRect(left * ratio, QSize(int(3 * ratio), 1));
    };
    // The window opens with the focus in the list and its first favorite the
    // one Return and Connect act on: that pad's outline reads against the
    // list's ground and against a plain pad, the focus in the list or not.
    for (QWidget *focused :
         {static_cast<QWidget *>(table), controller->window()->findChild<QWidget *>("connectButton")}) {
        focused->setFocus();
        pumpFor(std::chrono::milliseconds(50));
        const QImage shot = controller->window()->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        const QColor ground = shot.pixelColor(edgeOf(1, ratio).topLeft() - QPoint(int(3 * ratio), 0));
        const QColor plainPad = shot.pixelColor(edgeOf(2, ratio).topLeft() + QPoint(int(6 * ratio), 0));
        const std::string where = focused->metaObject()->className();
        EXPECT_GE(strongestContrast(shot, edgeOf(1, ratio), ground), 3.0) << where;
        EXPECT_GE(strongestContrast(shot, edgeOf(1, ratio), plainPad), 3.0) << where;
        EXPECT_LT(strongestContrast(shot, edgeOf(2, ratio), ground), 2.0) << "an unselected favorite is outlined";
    }
    saveScreenshot(controller->window(), dark ? "favorites-window-opened-dark" : "favorites-window-opened");
    failed->connectionStateError = true;
    failed->connectionErrorString =
        "could not connect to server: Connection refused. Is the server running on host \"reports.example.org\" and "
        "accepting TCP/IP connections on port 5432?";
    failed->errorTextHeight = FavoritePadDelegate::errorTextHeight(
        failed->connectionErrorString, controller->table()->font(), controller->table()->viewport()->width());
    model()->noteFavoriteChanged(failed.get());
    controller->editObject(edited);
    pumpFor(std::chrono::milliseconds(100));

    EXPECT_EQ(table->visualRect(model()->index(1)).height(), 60);
    EXPECT_EQ(table->visualRect(model()->index(2)).height(), 66 + int(std::ceil(failed->errorTextHeight)));
    EXPECT_GT(failed->errorTextHeight, table->fontMetrics().height()) << "a long error wraps";
    EXPECT_EQ(table->visualRect(model()->index(3)).height(), 374);
    QWidget *form = table->indexWidget(model()->index(3));
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_LE(form->sizeHint().height(), 374 - 12) << "the settings form does not fit its row";

    const QImage shot = controller->window()->grab().toImage();
    saveScreenshot(controller->window(), dark ? "favorites-window-dark" : "favorites-window");
    QString which;
    EXPECT_GE(weakestOutline(shot, int(shot.devicePixelRatio()), controller->window(), &which), 3.0)
        << "the outline of " << which.toStdString();
    if (dark) {
        // Between two pads and inside the plain one, the ground is the dark base.
        const QRect plain = table->visualRect(model()->index(1));
        const QPoint inPad =
            table->viewport()->mapTo(controller->window(), plain.center() + QPoint(plain.width() / 3, 0));
        const QPoint gap = table->viewport()->mapTo(controller->window(), QPoint(plain.center().x(), plain.bottom()));
        const qreal ratio = shot.devicePixelRatio();
        EXPECT_LT(shot.pixelColor(inPad * ratio).lightnessF(), 0.45);
        EXPECT_LT(shot.pixelColor(gap * ratio).lightnessF(), 0.25);
    }
    QApplication::setPalette(saved);
}

INSTANTIATE_TEST_SUITE_P(Palettes, FavoritesWindowScreenshot, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Dark" : "Light"; });

// The server's and the tunnel's fields stand in the same columns, no button of
// the form or the window is squeezed below what its title needs, and the
// window's two buttons do not touch.
TEST_F(FavoritesWindowFixture, TheSettingsFormLinesUpAndNoButtonIsSqueezed) {
    auto edited = addFavorite("Staging", "10.0.4.12", "deploy", "shop");
    edited->setSshEnabled(true);
    edited->setSshHost("gw.example.org");
    edited->setSshPrivateKeyBookmark("/home/deploy/.ssh/keys/id_ed25519_staging_gateway");
    openWindow();
    controller->window()->resize(460, 640);
    controller->editObject(edited);
    pumpFor(std::chrono::milliseconds(100));
    auto *form = qobject_cast<FavoriteSettingsForm *>(controller->table()->indexWidget(model()->index(1)));
    ASSERT_TRUE(form);
    saveScreenshot(controller->window(), "favorites-window-ssh-form");

    auto frameIn = [](QWidget *widget, QWidget *ancestor) {
        return QRect(widget->mapTo(ancestor, QPoint()), widget->size());
    };
    const QRect host = frameIn(form->hostField(), form);
    const QRect sshHost = frameIn(form->sshHostField(), form);
    EXPECT_EQ(host.left(), sshHost.left());
    EXPECT_EQ(host.right(), sshHost.right());
    EXPECT_EQ(frameIn(form->portField(), form).left(), frameIn(form->sshPortField(), form).left());

    for (QPushButton *button : controller->window()->findChildren<QPushButton *>()) {
        if (!button->isVisible())
            continue;
        EXPECT_GE(button->width(), button->minimumSizeHint().width()) << button->text().toStdString();
        EXPECT_TRUE(QRect(QPoint(), controller->window()->size()).contains(frameIn(button, controller->window())))
            << button->text().toStdString();
    }
    EXPECT_GE(frameIn(form->findChild<QPushButton *>("connectFavorite"), form).left() -
                  frameIn(form->findChild<QPushButton *>("endEditing"), form).right(),
              4);
    QPushButton *newButton = nullptr;
    QPushButton *connectButton = controller->window()->findChild<QPushButton *>("connectButton");
    for (QPushButton *button : controller->window()->findChildren<QPushButton *>())
        if (button->text() == "&New Favorite")
            newButton = button;
    ASSERT_TRUE(newButton && connectButton);
    EXPECT_GE(frameIn(connectButton, controller->window()).left() - frameIn(newButton, controller->window()).right(),
              4);
}

// At its narrowest the window still gives the settings of a favorite with a
// tunnel the width they need.
TEST_F(FavoritesWindowFixture, ANarrowWindowWidensForTheSettings) {
    auto edited = addFavorite("Staging", "10.0.4.12", "deploy", "shop");
    edited->setSshEnabled(true);
    openWindow();
    controller->window()->resize(controller->window()->minimumSize());
    controller->editObject(edited);
    pumpFor(std::chrono::milliseconds(100));
    QWidget *form = controller->table()->indexWidget(model()->index(1));
    ASSERT_TRUE(form);
    EXPECT_GE(form->width(), form->minimumSizeHint().width()) << "the settings are cut";
    saveScreenshot(controller->window(), "favorites-window-narrowest");
}

class FavoritesFormAtLeastWidth : public FavoritesWindowFixture, public ::testing::WithParamInterface<bool> {};

// At the window's least width every label of the settings (the tunnel's too)
// shows whole, and Done and Connect close the form below all of its fields.
TEST_P(FavoritesFormAtLeastWidth, EveryLabelShowsWholeAndTheButtonsCloseTheForm) {
    const bool dark = GetParam();
    const QPalette saved = QApplication::palette();
    QApplication::setStyle(new ReadableScrollBarStyle(QStyleFactory::create("Fusion")));
    if (dark)
        QApplication::setPalette(darkPalette());
    auto edited = addFavorite("Staging", "10.0.4.12", "deploy", "shop");
    edited->setSshEnabled(true);
    openWindow();
    controller->editObject(edited);
    pumpFor(std::chrono::milliseconds(100));
    controller->window()->resize(controller->window()->minimumWidth(), 560);
    pumpFor(std::chrono::milliseconds(100));
    auto *form = qobject_cast<FavoriteSettingsForm *>(controller->table()->indexWidget(model()->index(1)));
    ASSERT_TRUE(form);
    saveScreenshot(controller->window(), dark ? "favorites-form-least-width-dark" : "favorites-form-least-width");
    QWidget *viewport = controller->table()->viewport();
    EXPECT_TRUE(viewport->rect().contains(QRect(form->mapTo(viewport, QPoint()), form->size())))
        << "the form is cut: " << form->width() << " wide in a list " << viewport->width() << " wide, least "
        << form->minimumSizeHint().width();

    int lowestField = 0;
    for (QWidget *widget : form->findChildren<QWidget *>()) {
        if (!widget->isVisible())
            continue;
        const QRect frame(widget->mapTo(form, QPoint()), widget->size());
        EXPECT_TRUE(form->rect().contains(frame)) << widget->metaObject()->className();
        if (auto *label = qobject_cast<QLabel *>(widget))
            EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text().remove('&')))
                << label->text().toStdString();
        if (auto *box = qobject_cast<QAbstractButton *>(widget))
            EXPECT_GE(box->width(), box->minimumSizeHint().width()) << box->text().toStdString();
        if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QCheckBox *>(widget))
            lowestField = std::max(lowestField, frame.bottom());
    }
    for (const char *name : {"endEditing", "connectFavorite"}) {
        QWidget *button = form->findChild<QPushButton *>(name);
        ASSERT_TRUE(button);
        EXPECT_GT(button->mapTo(form, QPoint()).y(), lowestField) << name << " is not below the fields";
    }
    QApplication::setPalette(saved);
}

INSTANTIATE_TEST_SUITE_P(Palettes, FavoritesFormAtLeastWidth, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Dark" : "Light"; });
