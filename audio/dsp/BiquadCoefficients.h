#pragma once
// Coefficients of one second-order section, normalised so that a0 = 1:
//   H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2)
// The generators follow the widely used audio-EQ cookbook: each is the bilinear transform of its analog
// prototype, prewarped so the digital response at `frequency` equals the prototype's at its centre. They are
// computed in double precision and are meant for the control side (they call trigonometric functions).
// Out-of-range arguments are clamped: frequency to 1 Hz .. 0.49 * sampleRate, q to at least 0.01; a NaN
// frequency, q or gain falls back to 1 kHz, 0.7071 or 0 dB.
class BiquadCoefficients {
public:
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;

    static BiquadCoefficients identity() { return {}; }
    bool isIdentity() const { return b0 == 1.0f && b1 == 0.0f && b2 == 0.0f && a1 == 0.0f && a2 == 0.0f; }

    static BiquadCoefficients lowPass(float sampleRate, float frequency, float q);
    static BiquadCoefficients highPass(float sampleRate, float frequency, float q);
    // Band pass with 0 dB gain at the centre frequency.
    static BiquadCoefficients bandPass(float sampleRate, float frequency, float q);
    // Unity magnitude everywhere; the phase passes -180 degrees at `frequency`.
    static BiquadCoefficients allPass(float sampleRate, float frequency, float q);
    static BiquadCoefficients peaking(float sampleRate, float frequency, float q, float gainDb);
    // Shelves: `gainDb` below (low shelf) or above (high shelf) the corner, half of it in dB at the corner;
    // q = 0.7071 gives the steepest slope without overshoot.
    static BiquadCoefficients lowShelf(float sampleRate, float frequency, float q, float gainDb);
    static BiquadCoefficients highShelf(float sampleRate, float frequency, float q, float gainDb);
};
