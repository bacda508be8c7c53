#pragma once

// A sequence of exchanges a window runs: the controller check, a walk of the
// loco list, a programming or decoder job, reading or writing the
// controller's settings. The window keeps repainting and taking input while
// the line works, but no second sequence may start meanwhile: a control that
// would start one asks refuses(), which beeps, and the handler does nothing.
// While a sequence runs the cursor shows that the program is busy. Stops and
// switching track power off are no sequences; they always act.
class WindowSequence final
{
public:
    WindowSequence();
    ~WindowSequence();
    WindowSequence(const WindowSequence &) = delete;
    WindowSequence &operator=(const WindowSequence &) = delete;

    static bool isRunning();
    // True (after a beep) when a sequence runs and the caller must not
    // start another.
    static bool refuses();
};
