#pragma once

// The pixels of the receiver's picture control: what the window shows and what the recorder
// writes. The control is 344 x 256 with a 1-pixel border; everything here is its 342 x 254
// inside, with (0, 0) the inside's top-left pixel (the border is the window's business).
//
// A decoded N x N picture of a standard size is stretched over a 343 x 257 area whose top-left
// is the inside's (0, 0): the source corners (0, 0) and (N-1, N-1) both land inside the area,
// which is one pixel wider and three pixels taller than the inside. The inside shows the area's
// first 342 columns and 254 rows: the stretched picture loses its last column and last three
// rows to the clip (for N = 256, the bottom two and a half rows of the picture are never seen).
// Then the caption "N L" is written over the lower left.

#include <QFont>
#include <QImage>
#include <cstdint>
#include <vector>

#include "encoder/picture.h"

namespace receiver {

inline constexpr int kControlWidth = 344;  // with the border
inline constexpr int kControlHeight = 256;
inline constexpr int kInsideWidth = 342;  // the records' size
inline constexpr int kInsideHeight = 254;
inline constexpr int kStretchWidth = 343;  // the area the picture is stretched over
inline constexpr int kStretchHeight = 257;
inline constexpr int kCaptionX = 1;  // top-left of the caption's first character cell
inline constexpr int kCaptionY = 245;
// 7 points at 96 dots per inch, rounded to whole pixels as a font mapper does: the caption is
// the same size whatever the screen's resolution, since it is recorded into every movie frame.
inline constexpr int kCaptionPixels = 9;
inline constexpr QRgb kCaptionColour = 0xFFC0C0C0;  // light grey
// Nothing is drawn before the first picture, so the control shows the dialog's face.
inline constexpr QRgb kBlankColour = 0xFFF0F0F0;

// The sizes that are stretched; a picture of any other side is copied pixel for pixel into the
// top-left corner over what the inside showed before.
[[nodiscard]] bool isStretchedSide(int side);

// The inside before any picture: blank, Format_RGB32.
[[nodiscard]] QImage blankPictureControl();

// "Lucida Console" where it is installed, else the system's fixed-pitch font; 9 pixels high,
// without anti-aliasing so that every caption pixel is either light grey or the picture.
[[nodiscard]] QFont captionFont();

// Draws a decoded picture and its caption "N L" (L: coded length in bytes) into the inside,
// which must be kInsideWidth x kInsideHeight, Format_RGB32. Stretching is smooth (bilinear).
void drawPicture(QImage& inside, const encoder::Picture& picture, int lengthBytes);

// The inside after drawing picture over a blank control.
[[nodiscard]] QImage pictureControlImage(const encoder::Picture& picture, int lengthBytes);

// The pixels of a movie record from the inside: width x height values 0x00RRGGBB, rows from
// the top. Qt keeps 0xFF in the top byte of Format_RGB32; a record wants 0 there.
[[nodiscard]] std::vector<uint32_t> recordPixels(const QImage& inside);

}  // namespace receiver
