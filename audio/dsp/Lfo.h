#pragma once
// Low-frequency oscillator with a sine or triangle shape, both starting at 0 and rising, peaking at +1 a
// quarter cycle in. The phase is kept in double precision so slow rates hold their period over long runs.
// Rate and shape may be set from the control thread while the audio thread runs.
#include <atomic>

class Lfo {
public:
    enum class Shape { Sine, Triangle };

    void setRate(float sampleRate, float hertz);
    void setShape(Shape shape) { shape_.store(shape, std::memory_order_relaxed); }

    // Phase in cycles (0..1); audio side or before processing starts.
    void setPhase(double cycles);
    double phase() const { return phase_; }

    // The value at the current phase, then one sample on.
    float next();
    void process(float* output, int count);

    static float shapeAt(Shape shape, double phase);

private:
    std::atomic<double> increment_{0.0};
    std::atomic<Shape> shape_{Shape::Sine};
    double phase_ = 0.0;
};
