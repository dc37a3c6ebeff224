// The scans of a JPEG stream, counted by walking its markers without decoding anything.
//
// A progressive JPEG is decoded one scan at a time, each scan a pass over the whole image, so a
// file of a few hundred kilobytes that holds thousands of nearly empty scans takes the decoder
// minutes; encoders write about ten. Counting the start-of-scan segments first lets a reader
// refuse such a file at once. The walk reads ahead only, in blocks, and stops as soon as the
// count passes the caller's bound, so a long file costs one pass at most.
//
// Stateless; callable from any thread.
#pragma once

#include <QIODevice>

namespace platform {

class JpegScans {
public:
    // The number of scans of the JPEG stream read from device (from its current position up to
    // its end-of-image marker or the end of the bytes), counting no further than stopAbove + 1.
    // -1 when the bytes do not start as a JPEG stream.
    static int count(QIODevice& device, int stopAbove);
};

} // namespace platform
