// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

// A head as the face finder's box gives it. The box runs from the brows to below the mouth
// and is about as wide as the face from cheek to cheek; the eyes, the top of the hair and
// the chin lie at fixed shares of its width from it, measured on portraits of grown pupils
// and the astronaut of the tests.
struct Head {
    static constexpr double eyesInBox = 0.38;     // of the box's height, from its top
    static constexpr double hairAboveEyes = 0.95; // of the face's width
    static constexpr double chinBelowEyes = 0.85;
    static constexpr double heightPerFaceWidth = hairAboveEyes + chinBelowEyes;

    double centreX = 0;
    double eyes = 0;
    double faceWidth = 0;

    double hairTop() const { return eyes - hairAboveEyes * faceWidth; }
    double chin() const { return eyes + chinBelowEyes * faceWidth; }

    static Head of(QRectF faceBox)
    {
        return {faceBox.center().x(), faceBox.top() + eyesInBox * faceBox.height(), faceBox.width()};
    }
};
