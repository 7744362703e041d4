// A seam into the LZW decoder for tests and fuzz targets only: the player
// never needs it, so its interface does not declare it.
#pragma once

// Puts the decoder's dictionary back as a fresh process has it, so that each
// input starts alike: a malformed stream's strings can run through entries
// that earlier images left behind.
void ForgetDictionary();
