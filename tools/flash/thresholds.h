// The published flash thresholds the analyser applies, each quoted once with its source and unit; every other
// file reads them from here. Where the sources leave a choice open, the choice is marked "ours" with its reason.
//
// Sources:
//   [WCAG]  W3C Web Content Accessibility Guidelines 2.2, success criterion 2.3.1 "Three Flashes or Below
//           Threshold" and its definitions "general flash and red flash thresholds", "relative luminance".
//   [BT]    ITU-R Recommendation BT.1702, guidance for the reduction of photosensitive epileptic seizures caused
//           by television (and the broadcasters' guidance that repeats its limits for television).
//   [OFCOM] Ofcom, Guidance Note on flashing images and regular patterns in television (the United Kingdom's
//           broadcast guidance, which the broadcast analysers apply).
#pragma once

namespace thresholds {

// [WCAG] "relative luminance": sRGB components c in 0..1 are linearised as c / 12.92 up to this knee and
// ((c + 0.055) / 1.055) ^ 2.4 above it (the 2.2 wording; 2.0 printed 0.03928, which differs from it by less
// than one 8-bit step), then weighted.
constexpr double srgb_knee = 0.04045;         // sRGB component, 0..1
constexpr double srgb_linear_slope = 12.92;   // below the knee
constexpr double srgb_offset = 0.055, srgb_scale = 1.055, srgb_gamma = 2.4;
constexpr double luminance_r = 0.2126, luminance_g = 0.7152, luminance_b = 0.0722;

// [WCAG] "general flash": a pair of opposing changes in relative luminance of 10 % or more of the maximum
// relative luminance (1.0), where the relative luminance of the darker image is below 0.80.
constexpr double general_change = 0.10;         // relative luminance, at least
constexpr double general_darker_below = 0.80;   // relative luminance of the darker state

// [WCAG] "red flash": a pair of opposing transitions involving a saturated red: for either state of each
// transition R / (R + G + B) >= 0.8, and the value (R - G - B) x 320, negative values set to 0, changes by more
// than 20 in both transitions. R, G, B are the linearised components of "relative luminance".
constexpr double red_saturation = 0.8;   // R / (R + G + B), at least
constexpr double red_scale = 320;        // units of the red value per unit of R - G - B
constexpr double red_change = 20;        // red value units, more than

// [WCAG] "no more than three general flashes and / or no more than three red flashes within any one-second
// period"; [BT] states the same count for television. A flash is a pair of opposing changes, and the count is
// read as the broadcast analysers read it ([OFCOM], [BT]): more than 6 opposing changes (transitions) in any one
// second fail, as the seventh begins the fourth flash. This is the conservative reading; counting only whole
// flashes ("more than 3 pairs") would pass 7 changes.
constexpr int transitions_allowed = 6;   // opposing changes per rule, in any one second
constexpr double window = 1.0;           // seconds, measured on the frames' presentation times

// [OFCOM] warns that flashing sequences lasting more than 5 s may be a risk even when they stay within the count. The
// broadcast analysers judge it as "extended flashing": 4 or more transitions in the second ending at a frame, on frames
// that together cover at least 4 s of some 5-s window, fail.
constexpr int extended_transitions = 4;    // transitions in the second ending at a frame, at least
constexpr double extended_window = 5.0;    // seconds
constexpr double extended_allowed = 4.0;   // seconds of such frames in the window: this much or more fails

// [WCAG] "...or the combined area of flashes occurring concurrently occupies no more than a total of .006
// steradians within any 10 degree visual field on the screen (25 % of any 10 degree visual field on the screen)
// at typical viewing distance", with the field taken as "a 341 x 256 pixel rectangle anywhere on the displayed
// screen area when the content is viewed at 1024 x 768 pixels".
constexpr double area_allowed = 0.25;                           // fraction of the field, at most
constexpr int reference_width = 1024, reference_height = 768;   // pixels
constexpr int field_width = 341, field_height = 256;            // pixels of the reference picture
constexpr double field_degrees = 10;                            // visual angle of the field

// [BT] and the broadcasters' reading of the same limit: the flashing area is counted against the whole screen
// (a quarter of the screen area). Both readings are reported.

// [WCAG] understanding of 2.3.1: a fine, balanced pattern such as white noise, whose elements are under
// 0.1 degree, does not appear to flash. Ours: luminance is averaged over cells of 0.1 degree before judging,
// and a cell's change counts only where the mean over its 1-degree surround changes the same way by the same
// threshold, so that a pattern balanced at that scale (as much brightening as darkening nearby) cancels out.
constexpr double cell_degrees = 0.1;       // side of the averaging cell
constexpr double surround_degrees = 1.0;   // side of the balance check

// Ours: changes of different cells belong to one flash of the field when they fall within this time of each other
// (a change that takes a few frames, like a pulse rising over three frames at 60 fps).
constexpr double together = 0.05;   // seconds, less than

// Ours: two times closer than this are the same instant (containers round time stamps, to the millisecond in
// some), so that changes exactly one second apart fall in different seconds whatever the rounding.
constexpr double same_time = 1e-4;   // seconds

}   // namespace thresholds
