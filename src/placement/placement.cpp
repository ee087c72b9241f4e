#include "placement.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace runlight::placement {

namespace {

// Where a segment of `length` starting at `start` goes, moved the least, to
// lie within [low, high); its start goes to `low` where it is too long.
int fitSegment(int start, int length, int low, int high) {
    if (length >= high - low) {
        return low;
    }
    return std::clamp(start, low, high - length);
}

long long squared(long long value) {
    return value * value;
}

// The starts to try along one axis: each candidate fitted into the area.
std::vector<int> fittedStarts(std::initializer_list<int> candidates, int length, int low,
                              int high) {
    std::vector<int> starts;
    for (const int candidate : candidates) {
        starts.push_back(fitSegment(candidate, length, low, high));
    }
    return starts;
}

}  // namespace

long long overlapArea(const Rect& a, const Rect& b) {
    const long long width = std::max(0, std::min(a.right(), b.right()) - std::max(a.left, b.left));
    const long long height = std::max(0, std::min(a.bottom(), b.bottom()) - std::max(a.top, b.top));
    return width * height;
}

Rect fitInside(const Rect& window, const Rect& area) {
    return {fitSegment(window.left, window.width, area.left, area.right()),
            fitSegment(window.top, window.height, area.top, area.bottom()), window.width,
            window.height};
}

Rect placeBeside(int width, int height, const Rect& other, const Rect& area, int gap) {
    const auto fitted = [&](int left, int top) {
        return fitInside(Rect{left, top, width, height}, area);
    };
    // Right with the tops level, left, below with the lefts level, above:
    // the first of these that covers nothing once fitted into the area.
    for (const Rect& side :
         {fitted(other.right() + gap, other.top), fitted(other.left - gap - width, other.top),
          fitted(other.left, other.bottom() + gap), fitted(other.left, other.top - gap - height)}) {
        if (overlapArea(side, other) == 0) {
            return side;
        }
    }

    // The covered area is the product of the covered width and height, each
    // least at an end of the range the area allows; the other starts tried
    // only break ties, in favour of the place nearest to the right side.
    const int preferredLeft = other.right() + gap;
    const int preferredTop = other.top;
    const std::vector<int> lefts =
        fittedStarts({preferredLeft, other.right(), other.left - gap - width, other.left - width,
                      area.left, area.right() - width},
                     width, area.left, area.right());
    const std::vector<int> tops =
        fittedStarts({preferredTop, other.bottom() + gap, other.bottom(), other.top - gap - height,
                      other.top - height, area.top, area.bottom() - height},
                     height, area.top, area.bottom());

    Rect best{};
    long long bestCover = -1;
    long long bestDistance = 0;
    for (const int left : lefts) {
        for (const int top : tops) {
            const Rect place{left, top, width, height};
            const long long cover = overlapArea(place, other);
            const long long distance = squared(left - preferredLeft) + squared(top - preferredTop);
            if (bestCover < 0 || cover < bestCover ||
                (cover == bestCover && distance < bestDistance)) {
                best = place;
                bestCover = cover;
                bestDistance = distance;
            }
        }
    }
    return best;
}

Rect placeBesideShrinking(Size preferred, Size minimum, const Rect& other, const Rect& area,
                          int gap) {
    const Rect full = placeBeside(preferred.width, preferred.height, other, area, gap);
    if (overlapArea(full, other) == 0) {
        return full;
    }
    // The room on each side, in the order placeBeside tries them.
    const Size rooms[] = {
        {area.right() - other.right() - gap, area.height},
        {other.left - gap - area.left, area.height},
        {area.width, area.bottom() - other.bottom() - gap},
        {area.width, other.top - gap - area.top},
    };
    for (const Size& room : rooms) {
        const Size size{std::min(preferred.width, room.width),
                        std::min(preferred.height, room.height)};
        if (size.width >= minimum.width && size.height >= minimum.height) {
            return placeBeside(size.width, size.height, other, area, gap);
        }
    }
    return full;
}

}  // namespace runlight::placement
