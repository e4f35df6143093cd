#pragma once
// Progress bar arithmetic, in window units (twips) held as single precision.

namespace tessaloom {

// The fill after position `position` of `count`: position/count of the track,
// formed in double precision and stored as single precision.
inline float FillWidth(int position, float trackWidth, int count) {
    return static_cast<float>(static_cast<double>(position) * static_cast<double>(trackWidth) /
                              static_cast<double>(count));
}

// The end cap shows while the fill is no wider than the cap.
inline bool CapVisible(float capWidth, float fillWidth) {
    return static_cast<float>(static_cast<double>(capWidth) - static_cast<double>(fillWidth)) >= 0.0F;
}

// The cap's left edge, so that its right edge meets the fill's.
inline float CapLeft(float fillWidth, float fillLeft, float capWidth) {
    return static_cast<float>(static_cast<double>(fillWidth) + static_cast<double>(fillLeft) -
                              static_cast<double>(capWidth));
}

}  // namespace tessaloom
