#include "speed_tip.h"

#include <QLocale>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

namespace runlight::ui {

namespace {

// Steps per second at `periodMs`, three digits at most, Hungarian style
// ("5", "333", "1,25").
QString stepsPerSecond(int periodMs) {
    return QLocale(QLocale::Hungarian).toString(1000.0 / periodMs, 'g', 3);
}

QString periodLine(int periodMs) {
    return QStringLiteral("%1 ms lépésenként, %2 lépés/s")
        .arg(periodMs)
        .arg(stepsPerSecond(periodMs));
}

}  // namespace

SpeedTip::SpeedTip(QScrollBar& bar) : QObject(&bar), m_bar(&bar) {
    bar.setToolTip(text(bar.value()));
    connect(&bar, &QScrollBar::valueChanged, this,
            [this](int value) { m_bar->setToolTip(text(value)); });
    connect(&bar, &QScrollBar::sliderMoved, this, &SpeedTip::followThumb);
    connect(&bar, &QScrollBar::sliderReleased, this, [] { QToolTip::hideText(); });
}

QString SpeedTip::text(int periodMs) {
    return periodLine(periodMs) + QStringLiteral("\nFelfelé gyorsabb, lefelé lassabb");
}

QString SpeedTip::dragText(int periodMs) {
    return periodLine(periodMs) + QStringLiteral("\nElengedéskor lép életbe");
}

void SpeedTip::followThumb(int position) {
    QStyleOptionSlider option;
    option.initFrom(m_bar);
    option.subControls = QStyle::SC_All;
    option.orientation = m_bar->orientation();
    option.minimum = m_bar->minimum();
    option.maximum = m_bar->maximum();
    option.sliderPosition = position;
    option.sliderValue = m_bar->value();
    option.singleStep = m_bar->singleStep();
    option.pageStep = m_bar->pageStep();
    const QRect thumb = m_bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                       QStyle::SC_ScrollBarSlider, m_bar);
    // Right of the thumb, level with it.
    const QPoint at = m_bar->mapToGlobal(QPoint(m_bar->width(), thumb.top()));
    QToolTip::showText(at, dragText(position), m_bar);
}

}  // namespace runlight::ui
