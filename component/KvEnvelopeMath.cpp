// Conversions between envelope gains and percentages.
//
// Exactness: the quotient and the product are formed in extended precision and rounded to double once.
// A whole percent therefore does not always read back as itself (7 reads 7.000000000000001).
#include "KvEnvelopeMath.h"

#include "KvReal.h"
#include "KvRules.h"
#include <pictura/SysUtils.h>

#include <cmath>

namespace KvKernels {

double EnvelopeGainFromPercent(double Value) {
    // A NaN passes both clamp comparisons; stored, it would make every later lookup undefined.
    if (std::isnan(Value))
        throw EInvalidOperation(
            "Envelope gain: the percentage is not a number (NaN); the entry is left unchanged");
    if (Value > 100)
        Value = 100;
    else if (Value < 0)
        Value = 0;
    return GainFromPercentRule<TKvReal>(Value);
}

double EnvelopePercentFromGain(double Gain) {
    return PercentFromGainRule<TKvReal>(Gain);
}

} // namespace KvKernels
