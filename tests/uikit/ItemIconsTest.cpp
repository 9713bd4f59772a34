#include "uikit/ItemIcons.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

using ItemIcons::Shape;

namespace {

const Shape kShapes[] = {Shape::Database, Shape::Schema,           Shape::SQLQuery, Shape::Table,
                         Shape::View,     Shape::MaterializedView, Shape::Server};
const bool kTemplate[] = {true, true, true, false, false, false, true};

// Restores the application palette when a test changed it.
class PaletteGuard {
public:
    PaletteGuard() : m_saved(QApplication::palette()) {}
    ~PaletteGuard() { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

// The dark palette with a disabled text colour of its own.
QPalette darkWithDisabledText() {
    QPalette palette = darkPalette();
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(110, 110, 110));
    return palette;
}

// The colours of the pixels covered at least a little (below that, premultiplied
// rounding blurs the colour), alpha taken out.
QSet<QRgb> coveredColours(const QImage &image) {
    QSet<QRgb> colours;
    const QImage plain = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            if (qAlpha(plain.pixel(x, y)) >= 24)
                colours.insert(plain.pixel(x, y) | 0xff000000u);
    return colours;
}

int coveredPixels(const QImage &image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

} // namespace

TEST(ItemIcons, EveryIconDrawsAtEverySizeAndIsHandedOutOnce) {
    for (Shape shape : kShapes) {
        EXPECT_EQ(ItemIcons::smallIcon(shape).cacheKey(), ItemIcons::smallIcon(shape).cacheKey());
        for (int side : {16, 32, 48, 128}) {
            const QImage image = ItemIcons::smallIcon(shape).pixmap(QSize(side, side), 1.0).toImage();
            ASSERT_EQ(image.size(), QSize(side, side));
            EXPECT_GT(coveredPixels(image), side * side / 4) << int(shape) << " at " << side;
            saveScreenshot(image, "uikit/item-icons", QStringLiteral("small-%1-%2.png").arg(int(shape)).arg(side));
        }
        const QIcon big = ItemIcons::bigIcon(shape);
        if (shape == Shape::Schema || shape == Shape::Server) {
            EXPECT_TRUE(big.isNull());
            continue;
        }
        const QSize design = ItemIcons::designSize(shape, true);
        const QImage image = big.pixmap(design * 2, 1.0).toImage();
        EXPECT_GT(coveredPixels(image), image.width() * image.height() / 2) << int(shape);
        saveScreenshot(image, "uikit/item-icons", QStringLiteral("big-%1.png").arg(int(shape)));
    }
}

// A sheet of every icon on a light and on a dark palette, to be looked at.
TEST(ItemIcons, ContactSheetOnLightAndDarkPalettes) {
    PaletteGuard guard;
    QImage sheet(int(std::size(kShapes)) * 140, 2 * 260, QImage::Format_ARGB32_Premultiplied);
    for (int row = 0; row < 2; ++row) {
        const QPalette palette = row == 0 ? QPalette(Qt::white) : darkWithDisabledText();
        QApplication::setPalette(palette);
        QPainter p(&sheet);
        p.fillRect(QRect(0, row * 260, sheet.width(), 260), palette.color(QPalette::Base));
        for (int i = 0; i < int(std::size(kShapes)); ++i) {
            const int x = i * 140 + 4, y = row * 260 + 4;
            ItemIcons::smallIcon(kShapes[i]).paint(&p, QRect(x, y, 16, 16));
            ItemIcons::smallIcon(kShapes[i]).paint(&p, QRect(x + 20, y, 32, 32));
            ItemIcons::smallIcon(kShapes[i]).paint(&p, QRect(x, y + 40, 96, 96));
            ItemIcons::bigIcon(kShapes[i]).paint(&p, QRect(x, y + 140, 128, 106));
        }
    }
    EXPECT_TRUE(saveScreenshot(sheet, "uikit", "item-icons-sheet.png"));
}

TEST(ItemIcons, HighPixelRatioGivesDevicePixelsNotAnUpscaledImage) {
    for (Shape shape : kShapes) {
        const QPixmap pixmap = ItemIcons::smallIcon(shape).pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(pixmap.size(), QSize(32, 32));
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), 2.0);
        // Drawn at 32 pixels, the grid's 1-point lines stay 2 pixels wide and
        // sharp: the same as a 32-pixel rendering at ratio 1.
        const QImage direct = ItemIcons::smallIcon(shape).pixmap(QSize(32, 32), 1.0).toImage();
        EXPECT_EQ(pixmap.toImage().convertToFormat(direct.format()), direct) << int(shape);
    }
    // Painting through a scaled painter draws at the device's resolution too.
    QImage canvas(64, 64, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.scale(4, 4);
        ItemIcons::smallIcon(Shape::Table).paint(&p, QRect(0, 0, 16, 16));
    }
    EXPECT_EQ(canvas,
              ItemIcons::smallIcon(Shape::Table).pixmap(QSize(64, 64), 1.0).toImage().convertToFormat(canvas.format()));
}

TEST(ItemIcons, TemplateIconsTakeThePaletteTextColourAtDrawingTime) {
    PaletteGuard guard;
    for (int pass = 0; pass < 2; ++pass) {
        const QPalette palette = pass == 0 ? QPalette(Qt::white) : darkWithDisabledText();
        QApplication::setPalette(palette);
        for (size_t i = 0; i < std::size(kShapes); ++i) {
            const QImage image = ItemIcons::smallIcon(kShapes[i]).pixmap(QSize(32, 32), 1.0).toImage();
            const QSet<QRgb> colours = coveredColours(image);
            if (kTemplate[i]) {
                // Premultiplied edges round a little; every covered pixel is the text colour.
                const QColor text = palette.color(QPalette::Active, QPalette::Text);
                for (QRgb c : colours)
                    EXPECT_LE(std::abs(qRed(c) - text.red()) + std::abs(qGreen(c) - text.green()) +
                                  std::abs(qBlue(c) - text.blue()),
                              12)
                        << int(i) << " pass " << pass;
            } else {
                EXPECT_GT(colours.size(), 3) << "grids keep their own colours";
            }
        }
    }
    const QImage disabled = ItemIcons::smallIcon(Shape::Schema).pixmap(QSize(16, 16), 1.0, QIcon::Disabled).toImage();
    for (QRgb c : coveredColours(disabled))
        EXPECT_LE(std::abs(qRed(c) - 110), 6);
}

TEST(ItemIcons, TemplateIconsShowTheirLightPartsAsTranslucency) {
    // The rings of the cylinder and the inside of the folder are washes: much
    // less opaque than the outline, not holes and not solid.
    for (Shape shape : {Shape::Database, Shape::Schema, Shape::Server}) {
        const QImage image = ItemIcons::smallIcon(shape).pixmap(QSize(64, 64), 1.0).toImage();
        const int middle = qAlpha(image.pixel(32, 40));
        EXPECT_GT(middle, 20) << int(shape);
        EXPECT_LT(middle, 100) << int(shape);
        EXPECT_EQ(qAlpha(image.pixel(1, 36)), 255) << int(shape) << " outline";
    }
}
