// Why a file could not be opened, as the loader found it: callers choose
// their message from this, never from the wording of the loader's text.
#pragma once

enum class LoadFailure {
    None,
    Missing,      // no such file, or it cannot be read
    Unsupported,  // not one of the formats or pixel layouts we read
    Damaged,      // the file's contents are broken, or the decoder failed on them
    TooLarge,     // more pixels than we open
    OutOfMemory,  // a sound file that did not fit in memory
    Cancelled,    // the caller gave up waiting
    NoDecoder,    // the decoding helper program is missing or did not start
};
