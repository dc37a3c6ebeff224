// The one process-wide import state through which the user's answer to "stop importing?"
// reaches the running import operation.
//
// The state is 0 run, 1 paused, 2 delete imported, 3 save imported. Beside it lives a flag
// that says whether an operation is in the phase where it still tests the state (its per-file
// loop). Outside that phase a pause cannot be honoured, so `pause` refuses it and the answers
// are ignored; every operation opens the phase with a clean state, so an answer given to an
// import that has ended never reaches the next one. The phase closes in the same locked step
// that hands an operation its decision, so a pause can never fall between the last test and
// the end of the loop and be left unanswered.
//
// A waiting operation also wakes when it is cancelled (quit, queue destroyed) and then behaves
// as "save imported": it keeps the documents it copied, with their records, rather than leave
// files in the library that no record names.
//
// Threads: the setters are called on the main thread, the checkpoints on the import queue's
// thread. One mutex guards everything here; the setters signal the condition under it, so a
// wake-up cannot be lost.
#pragma once

#include <chrono>
#include <functional>

class KPImportState {
public:
    enum State { Run = 0, Paused = 1, DeleteImported = 2, SaveImported = 3 };

    // Opens the pausable phase of a starting operation: state 0.
    static void beginOperation();
    // Waits while paused (and not cancelled) and answers what to do before the next file; a
    // cancelled operation is answered "save imported" unless it was told to delete.
    // Any answer other than Run, and Run when lastCheck is set, closes the pausable phase.
    static State checkpoint(const std::function<bool()>& isCancelled, bool lastCheck = false);
    // Waits up to timeout, or until cancelled. Pacing pauses between steps of an operation.
    static void pace(std::chrono::milliseconds timeout, const std::function<bool()>& isCancelled);
    // Closes the pausable phase and returns the state to 0 (the end of every operation).
    static void reset();
    // Wakes every waiter so it can look at its cancel flag again.
    static void wakeAll();

    // False when the state became "paused"; true when no operation can be paused now.
    static bool pause();
    // The user's answer; ignored outside the pausable phase.
    static void answer(State state);

    static State state();
    static bool isPausable();

    KPImportState() = delete;
};
