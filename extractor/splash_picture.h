// The splash picture as the program carries it: the bitmap (header, colour table and
// run-length coded pixels, as a bitmap resource holds them) deflated into one MSZIP block,
// raw-data resource 1002. Deflated it takes well under half of its bitmap form, in a head
// that every packaged page carries; the extractor's own decoder unpacks it.
#pragma once

namespace spillet {

// Unpacks the splash bitmap of module (a module handle; null means the program itself)
// into a buffer that lives as long as the program and answers it (a BITMAPINFOHEADER
// followed by its colour table and pixels). Null when the resource is missing or does not
// unpack. Each call unpacks afresh into the same buffer.
const void* UnpackSplashPicture(void* module);

}  // namespace spillet
