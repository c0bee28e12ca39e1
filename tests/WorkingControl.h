// Checks that a control made by a factory (the palette's or Designer's) is a working TKvPictura.
#pragma once

#include <pictura/KvPictura.h>

#include <gtest/gtest.h>

// Gives Object a 2 x 1 true-colour picture and inverts it: the pixel Blue 10, Green 20, Red 30 must
// become 245, 235, 225 and the white one black.
inline void ExpectWorkingControl(QObject* Object) {
    TKvPictura* control = qobject_cast<TKvPictura*>(Object);
    ASSERT_NE(control, nullptr) << "the factory made "
                                << (Object ? Object->metaObject()->className() : "nothing");
    TDibImage dib;
    dib.Width = 2;
    dib.Height = 1;
    dib.Format = pf24bit;
    dib.Bits = {10, 20, 30, 255, 255, 255, 0, 0};
    control->SetAutoSize(true);
    control->Picture()->GetBitmap()->Assign(dib);
    control->Invert();
    EXPECT_EQ(control->GetRGBPixel(0, 0), (TRGBColor{245, 235, 225}));
    EXPECT_EQ(control->GetRGBPixel(1, 0), (TRGBColor{0, 0, 0}));
}
