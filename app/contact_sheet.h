// Contact sheets for the demo: a photograph and its repaintings side by side
// at one scale, each under its label, and the same for a 100 % crop of the
// photograph's most detailed region.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <vector>

struct LabelledPicture {
    QString label;
    QImage picture;
};

// The size × size square (smaller pictures: the whole picture) with the most
// detail, measured as the summed luma gradient; the first of equals in
// reading order.
QRect MostDetailedRegion(const QImage& picture, int size);

// The pictures in one row, each scaled by the same factor so that a
// cell is at most `cellWidth` wide (never enlarged), labels above. Pictures
// of different sizes give a null image.
QImage ContactSheet(const std::vector<LabelledPicture>& pictures, int cellWidth);

// The same `region` of every picture at 100 %, in one labelled row.
QImage CropSheet(const std::vector<LabelledPicture>& pictures, const QRect& region);
