// Conversions between the envelope gains kept by the control and the percentages of its interface.
//
// Exactness: both directions compute in extended precision and round to double once, where stored.
#pragma once

namespace KvKernels {

// Gain for a percentage: above 100 gives 1.0, below 0 gives 0.0, else Value / 100; NaN raises
// EInvalidOperation.
double EnvelopeGainFromPercent(double Value);

// Percentage for a gain: Gain * 100.
double EnvelopePercentFromGain(double Gain);

} // namespace KvKernels
