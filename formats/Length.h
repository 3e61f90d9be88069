// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A length on screen, on paper or in a file. The program measures in the pixels of a 96 dpi
// screen (card layouts, card sizes, the sheet); paper keeps each of them at 1/96 inch, and
// font sizes are points of 1/72 inch. Every conversion between these goes through here.
class Length {
public:
    static constexpr double pixelsPerInch = 96.0;

    static constexpr Length inches(double value) { return Length(value); }
    static constexpr Length pixels(double value) { return Length(value / pixelsPerInch); }
    static constexpr Length points(double value) { return Length(value / 72.0); }
    static constexpr Length millimetres(double value) { return Length(value / 25.4); }

    constexpr double toInches() const { return m_inches; }
    constexpr double toPixels() const { return m_inches * pixelsPerInch; }
    constexpr double toPoints() const { return m_inches * 72.0; }
    constexpr double toMillimetres() const { return m_inches * 25.4; }
    // In the pixels of a device of the given resolution, such as a printer at 1200 dpi.
    constexpr double toDots(double dotsPerInch) const { return m_inches * dotsPerInch; }

private:
    constexpr explicit Length(double inches)
        : m_inches(inches)
    {
    }
    double m_inches;
};
