#pragma once

// How a repaint call ended. Aborted is the user's choice, not a failure.
enum class RepaintStatus { Done, Aborted, OutOfMemory, BadInput };

inline const char* RepaintStatusText(RepaintStatus s) {
    switch (s) {
        case RepaintStatus::Done: return "done";
        case RepaintStatus::Aborted: return "aborted";
        case RepaintStatus::OutOfMemory: return "not enough memory";
        default: return "unsupported picture layout";
    }
}
