#pragma once
// Hands a buffer of new coefficients from one writer thread (the compile thread) to one reader thread (the
// audio thread) without a lock. The writer owns the pending buffer between beginWrite() and publish(); the
// reader owns it between a successful beginTake() and endTake(). The reader never waits: when the writer is
// busy it simply keeps its current coefficients for another frame. The writer waits only while the reader is
// inside a take, which lasts a few copies. A publication not yet taken is replaced by the next one, so the
// newest values win; a writer that republishes faster than the audio frames without waiting for pending()
// to clear can keep the reader on its old values.
#include <atomic>

class Handover {
public:
    // Writer: true once the pending buffer is the writer's to fill (also when an earlier publication was never
    // taken; it is overwritten). False only if the reader stayed inside a take for the whole bounded wait.
    bool beginWrite();
    void publish();
    // Reader: true when a published buffer is ready; it must be followed by endTake().
    bool beginTake();
    void endTake();
    // True while a publication waits for the reader.
    bool pending() const;

private:
    enum State : int { kIdle, kWriting, kReady, kTaking };
    std::atomic<int> state_{kIdle};
};
