#include <gtest/gtest.h>

#include <QPainter>

#include "contact_sheet.h"

namespace {

QImage Flat(int w, int h, QColor colour = QColor(120, 120, 120)) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// One-pixel checks: the most detail any picture can have.
void Checker(QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            image.setPixelColor(x, y, (x + y) % 2 ? Qt::white : Qt::black);
}

int Count(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
    return n;
}

double MeanX(const QImage& image, QRgb colour) {
    double sum = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour) sum += x, ++n;
    return n ? sum / n : -1;
}

// Where `part` occurs in `whole`, or (-1, -1).
QPoint Find(const QImage& whole, const QImage& part) {
    for (int y = 0; y + part.height() <= whole.height(); ++y)
        for (int x = 0; x + part.width() <= whole.width(); ++x)
            if (whole.copy(x, y, part.width(), part.height()) == part) return {x, y};
    return {-1, -1};
}

}  // namespace

TEST(ContactSheet, MostDetailedRegionFindsTheBusiestSquare) {
    QImage picture = Flat(200, 150);
    Checker(picture, QRect(130, 90, 40, 40));
    EXPECT_EQ(MostDetailedRegion(picture, 40), QRect(130, 90, 40, 40));

    // Against the far edges.
    picture = Flat(203, 151);
    Checker(picture, QRect(163, 111, 40, 40));
    EXPECT_EQ(MostDetailedRegion(picture, 40), QRect(163, 111, 40, 40));

    // A weaker texture loses to a stronger one.
    picture = Flat(300, 100);
    Checker(picture, QRect(200, 10, 50, 50));
    for (int y = 10; y < 60; ++y)
        for (int x = 20; x < 70; ++x) picture.setPixelColor(x, y, QColor(100 + (x % 2) * 40, 100, 100));
    EXPECT_EQ(MostDetailedRegion(picture, 50), QRect(200, 10, 50, 50));

    // Nothing stands out: the first square. Too small: all of it.
    EXPECT_EQ(MostDetailedRegion(Flat(90, 70), 32), QRect(0, 0, 32, 32));
    EXPECT_EQ(MostDetailedRegion(Flat(20, 12), 32), QRect(0, 0, 12, 12));
    EXPECT_EQ(MostDetailedRegion(Flat(1, 1), 32), QRect(0, 0, 1, 1));
    EXPECT_TRUE(MostDetailedRegion(QImage(), 32).isNull());
}

TEST(ContactSheet, PicturesShareOneScaleInTheirOrderUnderTheirLabels) {
    const QColor colours[] = {QColor(200, 30, 30), QColor(30, 200, 30), QColor(30, 30, 200), QColor(200, 200, 30)};
    std::vector<LabelledPicture> pictures;
    for (const QColor& c : colours) pictures.push_back({"", Flat(400, 200, c)});

    const QImage unlabelled = ContactSheet(pictures, 100);
    ASSERT_FALSE(unlabelled.isNull());
    double lastX = -1;
    for (const QColor& c : colours) {
        EXPECT_EQ(Count(unlabelled, c.rgb()), 100 * 50) << c.name().toStdString();
        EXPECT_GT(MeanX(unlabelled, c.rgb()), lastX);
        lastX = MeanX(unlabelled, c.rgb());
    }

    // Labels add text and nothing else.
    const char* labels[] = {"source", "Original", "Smudge", "Redraw"};
    for (int i = 0; i < 4; ++i) pictures[i].label = labels[i];
    const QImage labelled = ContactSheet(pictures, 100);
    ASSERT_EQ(labelled.size(), unlabelled.size());
    EXPECT_NE(labelled, unlabelled);
    for (const QColor& c : colours) EXPECT_EQ(Count(labelled, c.rgb()), 100 * 50);

    // Small pictures are not enlarged.
    for (auto& p : pictures) p.picture = p.picture.scaled(40, 20);
    EXPECT_EQ(Count(ContactSheet(pictures, 100), colours[0].rgb()), 40 * 20);

    pictures[2].picture = Flat(41, 20);
    EXPECT_TRUE(ContactSheet(pictures, 100).isNull());
    EXPECT_TRUE(ContactSheet({}, 100).isNull());
}

TEST(ContactSheet, CropsShowTheSameRegionOfEveryPictureAtFullSize) {
    std::vector<LabelledPicture> pictures;
    for (int i = 0; i < 3; ++i) {
        QImage picture(64, 48, QImage::Format_RGB32);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) picture.setPixel(x, y, qRgb(x * 4, y * 5, 60 + i * 60));
        pictures.push_back({QString("picture %1").arg(i), picture});
    }
    const QRect region(10, 5, 20, 12);
    const QImage sheet = CropSheet(pictures, region);
    ASSERT_FALSE(sheet.isNull());
    int lastX = -1;
    for (const LabelledPicture& p : pictures) {
        const QPoint at = Find(sheet, p.picture.copy(region));
        EXPECT_GT(at.x(), lastX) << p.label.toStdString();
        lastX = at.x();
    }
    EXPECT_TRUE(CropSheet(pictures, QRect(50, 40, 20, 12)).isNull());
    EXPECT_TRUE(CropSheet(pictures, QRect()).isNull());
}
