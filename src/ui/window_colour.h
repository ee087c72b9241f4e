#pragma once

#include <QColor>
#include <cstdint>

class QPalette;

namespace runlight::ui {

// A colour in the window system's encoding -> the colour to paint:
// 0x00BBGGRR is a plain colour (255 is pure red); with the top bit set the low
// bits name a system colour, taken from `palette` (15, button face -> Button).
// Throws std::invalid_argument for a system colour index it does not know.
QColor windowColour(std::uint32_t encoded, const QPalette& palette);

}  // namespace runlight::ui
