// GDI and icon objects of the layer. Every HICON, HBITMAP, HBRUSH, HFONT and HDC is a small
// number from a handle table, never a pointer: Win32 code stores icons in 32-bit slots
// (SetClassLongA), and a stale or foreign handle must be refused, not dereferenced.
#pragma once

#include "platform/win32.h"

#include <QImage>

// The picture of an icon (ARGB32, opaque where the AND mask is 0); null image for a bad handle.
QImage layerIconImage(HICON icon);

// A new icon from a colour image (its alpha ignored) and an optional AND mask.
HICON layerCreateIcon(const QImage &color, const QImage &mask);
