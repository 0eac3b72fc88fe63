#pragma once

// How a repaint call, or a stage inside one, ended. Aborted is the user's
// choice, not a failure; each failure names its cause.
enum class RepaintStatus { Done, Aborted, OutOfMemory, BadInput, BadSettings };

// Every case is listed, so that a new one makes the compiler warn here.
inline const char* RepaintStatusText(RepaintStatus s) {
    switch (s) {
        case RepaintStatus::Done: return "done";
        case RepaintStatus::Aborted: return "aborted";
        case RepaintStatus::OutOfMemory: return "not enough memory";
        case RepaintStatus::BadInput: return "unsupported picture layout";
        case RepaintStatus::BadSettings: return "a setting is out of range";
    }
    return "unknown outcome";
}
