#include "contact_sheet.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kGap = 8;
const QColor kBackground(0x2d, 0x2d, 0x2d);
const QColor kLabel(0xdc, 0xdc, 0xdc);

QFont LabelFont() {
    QFont font;
    font.setPixelSize(18);
    font.setBold(true);
    return font;
}

bool SameSizes(const std::vector<LabelledPicture>& pictures) {
    return std::all_of(pictures.begin(), pictures.end(),
                       [&](const LabelledPicture& p) { return p.picture.size() == pictures.front().picture.size(); });
}

// Cells of equal size in a row, each with its label centred above.
QImage LabelledRow(const std::vector<LabelledPicture>& pictures, const std::vector<QImage>& cells) {
    const QFont font = LabelFont();
    const int labelHeight = QFontMetrics(font).height() + kGap;
    const QSize cell = cells.front().size();
    const int count = int(cells.size());
    QImage sheet(kGap + count * (cell.width() + kGap), kGap + labelHeight + cell.height() + kGap,
                 QImage::Format_RGB32);
    sheet.fill(kBackground);
    QPainter painter(&sheet);
    painter.setFont(font);
    painter.setPen(kLabel);
    for (int i = 0; i < count; ++i) {
        const int left = kGap + i * (cell.width() + kGap);
        painter.drawText(QRect(left, kGap, cell.width(), labelHeight - kGap), Qt::AlignCenter, pictures[i].label);
        painter.drawImage(left, kGap + labelHeight, cells[i]);
    }
    return sheet;
}

}  // namespace

QRect MostDetailedRegion(const QImage& picture, int size) {
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    const int w = grey.width(), h = grey.height();
    const int side = std::min({size, w, h});
    if (side <= 0) return QRect();
    // Summed-area table of |dx| + |dy|, one row and column of zeros in front.
    std::vector<double> sums(size_t(w + 1) * (h + 1), 0.0);
    const auto at = [&](int x, int y) -> double& { return sums[size_t(y) * (w + 1) + x]; };
    for (int y = 0; y < h; ++y) {
        const uchar* row = grey.constScanLine(y);
        const uchar* below = grey.constScanLine(std::min(y + 1, h - 1));
        double rowSum = 0;
        for (int x = 0; x < w; ++x) {
            rowSum += std::abs(row[std::min(x + 1, w - 1)] - row[x]) + std::abs(below[x] - row[x]);
            at(x + 1, y + 1) = at(x + 1, y) + rowSum;
        }
    }
    QRect best(0, 0, side, side);
    double bestDetail = -1;
    for (int y = 0; y + side <= h; ++y)
        for (int x = 0; x + side <= w; ++x) {
            const double detail = at(x + side, y + side) - at(x, y + side) - at(x + side, y) + at(x, y);
            if (detail > bestDetail) {
                bestDetail = detail;
                best = QRect(x, y, side, side);
            }
        }
    return best;
}

QImage ContactSheet(const std::vector<LabelledPicture>& pictures, int cellWidth) {
    if (pictures.empty() || !SameSizes(pictures) || pictures.front().picture.isNull()) return QImage();
    const QSize size = pictures.front().picture.size();
    const double scale = std::min(1.0, double(cellWidth) / size.width());
    const QSize cell(std::max(1, int(std::lround(size.width() * scale))),
                     std::max(1, int(std::lround(size.height() * scale))));
    std::vector<QImage> cells;
    for (const LabelledPicture& p : pictures)
        cells.push_back(p.picture.scaled(cell, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return LabelledRow(pictures, cells);
}

QImage CropSheet(const std::vector<LabelledPicture>& pictures, const QRect& region) {
    if (pictures.empty() || !SameSizes(pictures) || region.isEmpty() ||
        !pictures.front().picture.rect().contains(region))
        return QImage();
    std::vector<QImage> cells;
    for (const LabelledPicture& p : pictures) cells.push_back(p.picture.copy(region));
    return LabelledRow(pictures, cells);
}
