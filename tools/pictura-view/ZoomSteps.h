// The zoom levels the viewer steps through, as factors of the picture's size (1 is actual size).
#pragma once

// The next level above (Direction > 0) or below (Direction < 0) Current; at the ends, the end itself.
double NextZoomStep(double Current, int Direction);
// Limits of the steps: 2 % and 3200 %.
constexpr double MinZoom = 0.02;
constexpr double MaxZoom = 32.0;
