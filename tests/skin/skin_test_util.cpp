#include "skin_test_util.h"

std::vector<PixelRun> RowRuns(const QImage& image, QRect area, QRgb colour) {
    area &= image.rect();
    std::vector<PixelRun> runs;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int start = -1;
        for (int x = area.left(); x <= area.right() + 1; ++x) {
            const bool in = x <= area.right() && image.pixel(x, y) == colour;
            if (in && start < 0) start = x;
            if (!in && start >= 0) {
                runs.push_back({y, start, x - start});
                start = -1;
            }
        }
    }
    return runs;
}
