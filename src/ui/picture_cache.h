#pragma once

#include <QPainter>
#include <QPixmap>
#include <QSize>
#include <algorithm>
#include <cstddef>
#include <vector>

namespace runlight::ui {

// Pictures of what the style drew, each kept under everything it was drawn
// from (`Key`: state, palette, colours, text, size, pixel ratio, style...,
// compared with ==), so that drawing the same again is one drawPixmap. The
// enable boxes and the readout's line are drawn this way: Fusion lays out a
// check box with gradients and rounded corners in some 66 000 instructions,
// a line of eight characters in some 125 000.
//
// The pictures are kept here, per widget, rather than in QPixmapCache,
// because the shared cache measurably costs more: its key (all of the above
// as one string) and its lookup cost about 2 000 instructions a paint more
// than searching this short list (callgrind, step_timing 20:300: box
// painting 20.2 M -> 21.5 M instructions, the readout's line 3.2 M -> 4.1 M).
template <class Key>
class PictureCache {
public:
    // At most `capacity` pictures; when full, the next new one starts afresh.
    explicit PictureCache(std::size_t capacity) : m_capacity(capacity) {}

    // The picture for `key`, `size` device-independent pixels at `ratio`;
    // the first time, `draw(QPainter&)` paints it over transparency.
    template <class Draw>
    const QPixmap& picture(const Key& key, QSize size, qreal ratio, Draw&& draw) {
        auto found = std::find_if(m_drawn.begin(), m_drawn.end(),
                                  [&](const Drawn& drawn) { return drawn.key == key; });
        if (found != m_drawn.end()) {
            return found->picture;
        }
        if (m_drawn.size() >= m_capacity) {
            m_drawn.clear();
        }
        QPixmap picture(size * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        {
            QPainter painter(&picture);
            draw(painter);
        }
        m_drawn.push_back({key, picture});
        return m_drawn.back().picture;
    }

private:
    struct Drawn {
        Key key;
        QPixmap picture;
    };
    std::vector<Drawn> m_drawn;
    std::size_t m_capacity;
};

}  // namespace runlight::ui
