// The pictures built into the executable (ids in ImageIds.h), as FLTK
// images made once and kept for the life of the program. User-interface
// thread only, but for GetImage and DecodeAllImages.
#pragma once

class Fl_RGB_Image;

// The picture at its own size; null when there is none with this id. Any
// thread: one decodes a picture while the others wait.
Fl_RGB_Image* GetImage(unsigned nId);
// Decodes every picture, ahead of the window that shows them.
void DecodeAllImages();
// The picture at the scale factor: the picture itself at factor 1, else a
// bilinear copy at Scaled() of its width and height, made once per size.
Fl_RGB_Image* GetScaledImage(unsigned nId);
// The picture at nWidth x nHeight: itself at its own size, else a bilinear
// copy made once per size.
Fl_RGB_Image* GetImageAtSize(unsigned nId, int nWidth, int nHeight);
